#pragma once

// Turns old-protocol message models into the bits and demo records a converter reads.

#include <cstdint>
#include <string_view>

#include "bits/packet_writer.h"
#include "demokit/old_model.h"

namespace tarnic::demokit {

/// Appends a 32-bit little-endian value.
void appendLittle32(Bytes& bytes, std::uint32_t value);

/// Appends an old-protocol record: sequence, length, payload.
void appendRecord(Bytes& demo, std::int32_t sequence, const Bytes& payload);

/// Appends an old-protocol end marker (sequence -1) with the given length field.
void appendEndMarker(Bytes& demo, std::uint32_t length = 0);

/// The fields a delta announces: bit n stands for field n.
std::uint64_t announcedFields(const EntityDelta& delta);

// Each of these appends its element's bits where the writer stands, without alignment.

/// The characters and a NUL, 8 bits each; any length, at any bit offset.
void encodeString(PacketWriter& writer, std::string_view text);
void encodeEntityDelta(PacketWriter& writer, const EntityDelta& delta);
/// The entries and the list end.
void encodeEntityList(PacketWriter& writer, const std::vector<EntityEntry>& entries);
void encodePlayerState(PacketWriter& writer, const PlayerState& player);

// Operation bodies, without their code.
void encodeServerCommand(PacketWriter& writer, const ServerCommand& command);
/// The leading value, the entries and the end code.
void encodeGameState(PacketWriter& writer, const GameState& gameState);
void encodeSnapshot(PacketWriter& writer, const Snapshot& snapshot);

/// One whole operation: its code, its body, zero padding to the next byte.
void encodeOperation(PacketWriter& writer, const Operation& operation);

/// The payload of a message.
Bytes encodeMessage(const Message& message);

/// Appends a record holding the message.
void appendMessageRecord(Bytes& demo, const Record& record);

/// A whole old demo file.
Bytes encodeDemo(const Demo& demo);

}  // namespace tarnic::demokit
