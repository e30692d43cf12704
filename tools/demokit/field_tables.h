#pragma once

// Field layouts of entity deltas and player states in both protocols, shared by the
// old encoder and the new-protocol reader.

#include <array>
#include <cstdint>

#include "transcode/field_form.h"

namespace tarnic::demokit {

// The tables speak the converter's vocabulary of field forms and rows, but are written
// out here on their own from the format's description, so that the tests do not check
// the converter's tables against themselves. A width of 0 means the protocol lacks the
// field (or, for a packed value, that its flag decides).
using tarnic::FieldForm;
using tarnic::FieldRow;

inline constexpr int OLD_ENTITY_FIELDS = 50;
inline constexpr int NEW_ENTITY_FIELDS = 51;
inline constexpr std::uint16_t ENTITY_LIST_END = 1023;
inline constexpr std::uint8_t EXPLICIT_MASK_SELECTOR = 31;

/// Entity delta fields 0 to 50, indexed by field number.
extern const std::array<FieldRow, NEW_ENTITY_FIELDS> ENTITY_FIELDS;

/// The 31 preset field masks named by selectors 0 to 30, as mask bytes 0 to 6.
extern const std::array<std::array<std::uint8_t, 7>, 31> ENTITY_MASK_PRESETS;

/// The fields a preset row announces: bit n stands for field n.
std::uint64_t presetMask(std::uint8_t selector);

inline constexpr int NEW_PLAYER_FIELDS = 48;

/// Player-state fields 1 to 48 (index 0 is field 1); the old protocol stops at 45.
/// Every one is optional: a presence bit, then the value if it is set.
extern const std::array<FieldRow, NEW_PLAYER_FIELDS> PLAYER_FIELDS;

/// Value width of masked arrays 1 to 4; the same in both protocols.
inline constexpr std::array<int, 4> MASKED_ARRAY_WIDTHS = {16, 16, 16, 32};

}  // namespace tarnic::demokit
