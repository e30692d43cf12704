#include "demokit/old_encoder.h"

#include <algorithm>

#include "demokit/field_tables.h"
#include "transcode/server_op.h"

namespace tarnic::demokit {

namespace {

void writeBits(PacketWriter& writer, std::uint32_t value, int bits) {
    pktWriteBits(writer, std::int32_t(value), bits);
}

void encodePacked(PacketWriter& writer, const FieldValue& field) {
    writeBits(writer, field.wide ? 1 : 0, 1);
    writeBits(writer, field.value, field.wide ? 32 : 13);
}

void encodeField(PacketWriter& writer, const FieldRow& row, const FieldValue& field) {
    if (row.form == FieldForm::Packed) {
        encodePacked(writer, field);
    } else {
        writeBits(writer, field.value, row.oldWidth);
    }
}

void encodeMaskedArray(PacketWriter& writer, const MaskedArray& array, int width) {
    writeBits(writer, array.present ? 1 : 0, 1);
    if (!array.present) return;
    writeBits(writer, array.mask, 16);
    for (int j = 0; j < 16; ++j) {
        if (array.mask & (1u << j)) writeBits(writer, array.values[std::size_t(j)], width);
    }
}

struct GameStateEntryEncoder {
    PacketWriter& writer;
    void operator()(const ConfigString& entry) const {
        writeBits(writer, OP_CONFIGSTRING, 8);
        writeBits(writer, entry.index, 16);
        encodeString(writer, entry.text);
    }
    void operator()(const Baseline& entry) const {
        writeBits(writer, OP_BASELINE, 8);
        writeBits(writer, entry.number, 10);
        encodeEntityDelta(writer, entry.delta);
    }
    void operator()(const BadEntryCode& entry) const { writeBits(writer, entry.code, 8); }
};

struct OperationEncoder {
    PacketWriter& writer;
    void operator()(const ServerCommand& command) const {
        writeBits(writer, OP_SERVERCOMMAND, 8);
        encodeServerCommand(writer, command);
    }
    void operator()(const GameState& gameState) const {
        writeBits(writer, OP_GAMESTATE, 8);
        encodeGameState(writer, gameState);
    }
    void operator()(const Snapshot& snapshot) const {
        writeBits(writer, OP_SNAPSHOT, 8);
        encodeSnapshot(writer, snapshot);
    }
    void operator()(const BareOperation& operation) const { writeBits(writer, operation.code, 8); }
};

}  // namespace

void appendLittle32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
}

void appendRecord(Bytes& demo, std::int32_t sequence, const Bytes& payload) {
    appendLittle32(demo, std::uint32_t(sequence));
    appendLittle32(demo, std::uint32_t(payload.size()));
    demo.insert(demo.end(), payload.begin(), payload.end());
}

void appendEndMarker(Bytes& demo, std::uint32_t length) {
    appendLittle32(demo, 0xFFFFFFFFu);
    appendLittle32(demo, length);
}

std::uint64_t announcedFields(const EntityDelta& delta) {
    if (delta.selector == EXPLICIT_MASK_SELECTOR) return delta.explicitMask & lowBits(OLD_ENTITY_FIELDS);
    return presetMask(delta.selector);
}

void encodeString(PacketWriter& writer, std::string_view text) {
    for (const char c : text) writeBits(writer, std::uint8_t(c), 8);
    writeBits(writer, 0, 8);
}

void encodeEntityDelta(PacketWriter& writer, const EntityDelta& delta) {
    writeBits(writer, delta.removed ? 1 : 0, 1);
    if (delta.removed) return;
    writeBits(writer, delta.changed ? 1 : 0, 1);
    if (!delta.changed) return;
    writeBits(writer, delta.selector, 5);
    const std::uint64_t mask = announcedFields(delta);
    if (delta.selector == EXPLICIT_MASK_SELECTOR) {
        writeBits(writer, std::uint32_t(mask), 32);
        writeBits(writer, std::uint32_t(mask >> 32), OLD_ENTITY_FIELDS - 32);
    }
    for (int n = 0; n < OLD_ENTITY_FIELDS; ++n) {
        if (mask >> n & 1) encodeField(writer, ENTITY_FIELDS[std::size_t(n)], delta.fields[std::size_t(n)]);
    }
}

void encodeEntityList(PacketWriter& writer, const std::vector<EntityEntry>& entries) {
    for (const EntityEntry& entry : entries) {
        writeBits(writer, entry.number, 10);
        encodeEntityDelta(writer, entry.delta);
    }
    writeBits(writer, ENTITY_LIST_END, 10);
}

void encodePlayerState(PacketWriter& writer, const PlayerState& player) {
    for (std::size_t i = 0; i < player.fields.size(); ++i) {
        const OptionalField& field = player.fields[i];
        writeBits(writer, field.present ? 1 : 0, 1);
        if (field.present) encodeField(writer, PLAYER_FIELDS[i], field.field);
    }
    for (std::size_t a = 0; a < player.arrays.size(); ++a) {
        encodeMaskedArray(writer, player.arrays[a], MASKED_ARRAY_WIDTHS[a]);
    }
}

void encodeServerCommand(PacketWriter& writer, const ServerCommand& command) {
    writeBits(writer, command.leading, 32);
    encodeString(writer, command.text);
}

void encodeGameState(PacketWriter& writer, const GameState& gameState) {
    writeBits(writer, gameState.leading, 32);
    for (const GameStateEntry& entry : gameState.entries) std::visit(GameStateEntryEncoder{writer}, entry);
    writeBits(writer, 0, 8);
}

void encodeSnapshot(PacketWriter& writer, const Snapshot& snapshot) {
    writeBits(writer, snapshot.messageHead, 32);
    writeBits(writer, snapshot.header2, 32);
    writeBits(writer, snapshot.header3, 8);
    writeBits(writer, snapshot.header4, 8);
    // The count has 8 bits: bytes beyond 255 cannot be announced, so none is sent.
    const std::size_t count = std::min<std::size_t>(snapshot.block.size(), 255);
    writeBits(writer, std::uint32_t(count), 8);
    for (std::size_t i = 0; i < count; ++i) writeBits(writer, snapshot.block[i], 8);
    encodePlayerState(writer, snapshot.player);
    encodeEntityList(writer, snapshot.entities);
}

void encodeOperation(PacketWriter& writer, const Operation& operation) {
    std::visit(OperationEncoder{writer}, operation);
    pktAlignWriter(writer);
}

Bytes encodeMessage(const Message& message) {
    PacketWriter writer;
    for (const Operation& operation : message.operations) encodeOperation(writer, operation);
    return Bytes(writer.data.begin(), writer.data.begin() + std::ptrdiff_t(pktWrittenBytes(writer)));
}

void appendMessageRecord(Bytes& demo, const Record& record) {
    appendRecord(demo, record.sequence, encodeMessage(record.message));
}

Bytes encodeDemo(const Demo& demo) {
    Bytes bytes;
    for (const Record& record : demo.records) appendMessageRecord(bytes, record);
    if (demo.endMarker) appendEndMarker(bytes);
    return bytes;
}

}  // namespace tarnic::demokit
