#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarnic {

/// How an entity field travels and what the conversion does to it.
enum EntityFieldForm : std::uint8_t {
    FIELD_PLAIN,        ///< read with the old width, written unchanged with the new width
    FIELD_PACKED,       ///< flag bit, then 32 bits if it is 1, else 13; copied
    FIELD_ENTITY_TYPE,  ///< 8 bits, renumbered by remapEntityType
    FIELD_EVENT,        ///< 10 bits, renumbered by remapEvent (bits 8 and 9 kept)
    FIELD_NEW_ONLY,     ///< absent from the old encoding, so never announced
};

/// One row of the entity field table.
struct EntityField {
    std::uint8_t oldBits;  ///< width in the old encoding; 0 where the form decides
    std::uint8_t newBits;  ///< width in the new encoding; 0 where the form decides
    EntityFieldForm form;
};

/// Fields of the old encoding (0..49); the new one adds field 50.
inline constexpr std::size_t OLD_ENTITY_FIELD_COUNT = 50;
inline constexpr std::size_t NEW_ENTITY_FIELD_COUNT = 51;

/// Bytes of a field mask: byte k, bit j announces field 8k + j.
inline constexpr std::size_t ENTITY_MASK_BYTES = 7;

/// The entity fields by field number; the field's mask bit is its number.
inline constexpr std::array<EntityField, NEW_ENTITY_FIELD_COUNT> ENTITY_FIELDS = {{
    // field  mask byte, bit    old  new  treatment
    /*  0     0  0x01 */      {  8,   8, FIELD_ENTITY_TYPE },
    /*  1     0  0x02 */      { 16,  19, FIELD_PLAIN },
    /*  2     0  0x04 */      {  8,   8, FIELD_PLAIN },
    /*  3     0  0x08 */      { 32,  32, FIELD_PLAIN },
    /*  4     0  0x10 */      { 32,  32, FIELD_PLAIN },
    /*  5     0  0x20 */      {  0,   0, FIELD_PACKED },
    /*  6     0  0x40 */      {  0,   0, FIELD_PACKED },
    /*  7     0  0x80 */      {  0,   0, FIELD_PACKED },
    /*  8     1  0x01 */      {  0,   0, FIELD_PACKED },
    /*  9     1  0x02 */      {  0,   0, FIELD_PACKED },
    /* 10     1  0x04 */      {  0,   0, FIELD_PACKED },
    /* 11     1  0x08 */      {  8,   8, FIELD_PLAIN },
    /* 12     1  0x10 */      { 32,  32, FIELD_PLAIN },
    /* 13     1  0x20 */      { 32,  32, FIELD_PLAIN },
    /* 14     1  0x40 */      {  0,   0, FIELD_PACKED },
    /* 15     1  0x80 */      {  0,   0, FIELD_PACKED },
    /* 16     2  0x01 */      {  0,   0, FIELD_PACKED },
    /* 17     2  0x02 */      {  0,   0, FIELD_PACKED },
    /* 18     2  0x04 */      {  0,   0, FIELD_PACKED },
    /* 19     2  0x08 */      {  0,   0, FIELD_PACKED },
    /* 20     2  0x10 */      { 32,  32, FIELD_PLAIN },
    /* 21     2  0x20 */      { 32,  32, FIELD_PLAIN },
    /* 22     2  0x40 */      {  0,   0, FIELD_PACKED },
    /* 23     2  0x80 */      {  0,   0, FIELD_PACKED },
    /* 24     3  0x01 */      {  0,   0, FIELD_PACKED },
    /* 25     3  0x02 */      {  0,   0, FIELD_PACKED },
    /* 26     3  0x04 */      {  0,   0, FIELD_PACKED },
    /* 27     3  0x08 */      {  0,   0, FIELD_PACKED },
    /* 28     3  0x10 */      {  0,   0, FIELD_PACKED },
    /* 29     3  0x20 */      {  0,   0, FIELD_PACKED },
    /* 30     3  0x40 */      {  0,   0, FIELD_PACKED },
    /* 31     3  0x80 */      {  0,   0, FIELD_PACKED },
    /* 32     4  0x01 */      {  0,   0, FIELD_PACKED },
    /* 33     4  0x02 */      {  0,   0, FIELD_PACKED },
    /* 34     4  0x04 */      { 10,  10, FIELD_PLAIN },
    /* 35     4  0x08 */      { 10,  10, FIELD_PLAIN },
    /* 36     4  0x10 */      { 10,  10, FIELD_PLAIN },
    /* 37     4  0x20 */      {  8,   8, FIELD_PLAIN },
    /* 38     4  0x40 */      { 32,  32, FIELD_PLAIN },
    /* 39     4  0x80 */      {  8,   8, FIELD_PLAIN },
    /* 40     5  0x01 */      {  8,   8, FIELD_PLAIN },
    /* 41     5  0x02 */      { 16,  16, FIELD_PLAIN },
    /* 42     5  0x04 */      {  8,   8, FIELD_PLAIN },
    /* 43     5  0x08 */      { 24,  24, FIELD_PLAIN },
    /* 44     5  0x10 */      { 10,  10, FIELD_EVENT },
    /* 45     5  0x20 */      {  8,   8, FIELD_PLAIN },
    /* 46     5  0x40 */      { 16,  16, FIELD_PLAIN },
    /* 47     5  0x80 */      {  8,   8, FIELD_PLAIN },
    /* 48     6  0x01 */      {  8,   8, FIELD_PLAIN },
    /* 49     6  0x02 */      {  8,   8, FIELD_PLAIN },
    /* 50     6  0x04 */      {  0,   8, FIELD_NEW_ONLY },
}};

// The old encoding's census: 24 packed values, seven 32-bit fields, one of 24 bits,
// three of 16, four of 10 and eleven of 8.
static_assert([] {
    auto count = [](std::uint8_t oldBits, EntityFieldForm form) {
        int n = 0;
        for (const EntityField& field : ENTITY_FIELDS) n += field.oldBits == oldBits && field.form == form;
        return n;
    };
    return count(0, FIELD_PACKED) == 24 && count(32, FIELD_PLAIN) == 7 && count(24, FIELD_PLAIN) == 1 &&
           count(16, FIELD_PLAIN) == 3 && count(10, FIELD_PLAIN) + count(10, FIELD_EVENT) == 4 &&
           count(8, FIELD_PLAIN) + count(8, FIELD_ENTITY_TYPE) == 11;
}());

/// Mask selector that announces an explicit mask instead of a preset row.
inline constexpr std::uint32_t EXPLICIT_MASK_SELECTOR = 31;

/// Field masks named by the selectors 0..30, as mask bytes 0..6.
inline constexpr std::array<std::array<std::uint8_t, ENTITY_MASK_BYTES>, EXPLICIT_MASK_SELECTOR>
    ENTITY_MASK_PRESETS = {{
        {0x60, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00},  //  0: 5, 6, 15
        {0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  //  1: 5, 6
        {0x60, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00},  //  2: 5, 6, 14, 15
        {0xE1, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00},  //  3: 0, 5, 6, 7, 45
        {0x60, 0x80, 0x00, 0x00, 0x00, 0x10, 0x00},  //  4: 5, 6, 15, 44
        {0xE0, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00},  //  5: 5, 6, 7, 15
        {0xE0, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00},  //  6: 5, 6, 7, 14, 15
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00},  //  7: 44
        {0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00},  //  8: 6, 15
        {0x20, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00},  //  9: 5, 15
        {0x60, 0x80, 0x00, 0x00, 0x01, 0x00, 0x00},  // 10: 5, 6, 15, 32
        {0xED, 0x07, 0x00, 0x00, 0x00, 0x80, 0x00},  // 11: 0, 2, 3, 5, 6, 7, 8, 9, 10, 47
        {0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 12: 5, 6, 7
        {0xED, 0x07, 0x00, 0x00, 0x00, 0x30, 0x00},  // 13: 0, 2, 3, 5, 6, 7, 8, 9, 10, 44, 45
        {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 14: 7
        {0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 15: 6
        {0xE0, 0xC0, 0x00, 0x00, 0x00, 0x10, 0x00},  // 16: 5, 6, 7, 14, 15, 44
        {0x60, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00},  // 17: 5, 6, 44
        {0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 18: 5
        {0xE1, 0x00, 0x00, 0x00, 0x04, 0x20, 0x00},  // 19: 0, 5, 6, 7, 34, 45
        {0xE1, 0x00, 0xC0, 0x01, 0x20, 0x20, 0x00},  // 20: 0, 5, 6, 7, 22, 23, 24, 37, 45
        {0xE0, 0xC0, 0x00, 0x00, 0x01, 0x00, 0x00},  // 21: 5, 6, 7, 14, 15, 32
        {0x60, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00},  // 22: 5, 6, 14
        {0x40, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00},  // 23: 6, 14, 15
        {0x60, 0xC0, 0x00, 0x00, 0x01, 0x00, 0x00},  // 24: 5, 6, 14, 15, 32
        {0x60, 0xC0, 0x00, 0x00, 0x00, 0x10, 0x00},  // 25: 5, 6, 14, 15, 44
        {0x60, 0x80, 0x00, 0x00, 0x01, 0x00, 0x01},  // 26: 5, 6, 15, 32, 48
        {0x60, 0x80, 0x00, 0x00, 0x00, 0x30, 0x00},  // 27: 5, 6, 15, 44, 45
        {0xE0, 0x80, 0x00, 0x00, 0x00, 0x10, 0x00},  // 28: 5, 6, 7, 15, 44
        {0x20, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00},  // 29: 5, 14, 15
        {0x60, 0x80, 0x00, 0x00, 0x00, 0x00, 0x02},  // 30: 5, 6, 15, 49
    }};

/// The preset rows as 64-bit masks, bit n for field n, for walking the set bits.
inline constexpr std::array<std::uint64_t, EXPLICIT_MASK_SELECTOR> ENTITY_PRESET_MASKS = [] {
    std::array<std::uint64_t, EXPLICIT_MASK_SELECTOR> masks{};
    for (std::size_t row = 0; row < masks.size(); ++row) {
        for (std::size_t k = 0; k < ENTITY_MASK_BYTES; ++k) {
            masks[row] |= std::uint64_t{ENTITY_MASK_PRESETS[row][k]} << (8 * k);
        }
    }
    return masks;
}();

// A preset may name only fields that both encodings carry.
static_assert([] {
    for (const std::uint64_t mask : ENTITY_PRESET_MASKS) {
        if (std::bit_width(mask) > int(OLD_ENTITY_FIELD_COUNT)) return false;
    }
    return true;
}());

}  // namespace tarnic
