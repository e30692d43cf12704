#pragma once

// Plain models of old-protocol messages, filled in field by field by tests and the
// generator and turned into bits by the old encoder.

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarnic::demokit {

using Bytes = std::vector<std::uint8_t>;

/// One field value. `wide` is the flag of a packed value (32 bits when set, else 13);
/// plain fields ignore it.
struct FieldValue {
    std::uint32_t value = 0;
    bool wide = false;
};

/// One entity state change. Fields are sent only when `changed`, and only those the
/// mask announces: the preset row of `selector`, or `explicitMask` when it is 31.
struct EntityDelta {
    bool removed = false;
    bool changed = false;
    std::uint8_t selector = 0;
    std::uint64_t explicitMask = 0;  ///< bit n announces field n, n < 50
    std::array<FieldValue, 50> fields{};
};

struct EntityEntry {
    std::uint16_t number = 0;  ///< below 1023, which ends the list
    EntityDelta delta;
};

struct ServerCommand {
    std::uint32_t leading = 0;
    std::string text;
};

struct ConfigString {
    std::uint16_t index = 0;
    std::string text;
};

struct Baseline {
    std::uint16_t number = 0;
    EntityDelta delta;
};

/// An entry code other than 3, 4 and 0, sent without a body.
struct BadEntryCode {
    std::uint8_t code = 0;
};

using GameStateEntry = std::variant<ConfigString, Baseline, BadEntryCode>;

struct GameState {
    std::uint32_t leading = 0;
    std::vector<GameStateEntry> entries;  ///< the end code follows them
};

/// A player-state field that may be absent.
struct OptionalField {
    bool present = false;
    FieldValue field;
};

/// A player-state array of 16 entries sent as a mask and the entries it names.
struct MaskedArray {
    bool present = false;
    std::uint16_t mask = 0;
    std::array<std::uint32_t, 16> values{};  ///< entry j is sent when mask bit j is set
};

inline constexpr int PLAYER_FIELD_COUNT = 45;

struct PlayerState {
    std::array<OptionalField, PLAYER_FIELD_COUNT> fields{};  ///< fields 1 to 45
    std::array<MaskedArray, 4> arrays{};                      ///< masked arrays 1 to 4
};

struct Snapshot {
    std::uint32_t messageHead = 0;  ///< header field 1
    std::uint32_t header2 = 0;
    std::uint8_t header3 = 0;
    std::uint8_t header4 = 0;
    std::vector<std::uint8_t> block;  ///< the counted byte block, at most 255 bytes
    PlayerState player;
    std::vector<EntityEntry> entities;
};

/// An operation code that carries no body (NOP, the illegal and unknown codes).
struct BareOperation {
    std::uint8_t code = 0;
};

using Operation = std::variant<ServerCommand, GameState, Snapshot, BareOperation>;

struct Message {
    std::vector<Operation> operations;
};

struct Record {
    std::int32_t sequence = 0;
    Message message;
};

struct Demo {
    std::vector<Record> records;
    bool endMarker = true;
};

}  // namespace tarnic::demokit
