#pragma once

#include <cstdint>

namespace tarnic {

/// How a field of an entity delta or a player state travels, and what the conversion
/// does to it. The same words describe both tables.
enum class FieldForm : std::uint8_t {
    Plain,       ///< the old width's bits, written unchanged at the new width
    Packed,      ///< a packed value: a flag bit, then 32 bits if it is 1, else 13; copied
    EntityType,  ///< an entity type, renumbered by `remapEntityType`
    Event,       ///< an event value, renumbered by `remapEvent`
    NewOnly,     ///< absent from the old encoding
};

/// One row of a field table.
struct FieldRow {
    FieldForm form;
    std::uint8_t oldWidth;  ///< bits in the old encoding; 0 for packed values and new-only fields
    std::uint8_t newWidth;  ///< bits in the new encoding; 0 for packed values
};

// The widths of a packed value.
inline constexpr unsigned PACKED_FLAG_BITS = 1;
inline constexpr unsigned PACKED_NARROW_BITS = 13;
inline constexpr unsigned PACKED_WIDE_BITS = 32;

}  // namespace tarnic
