#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "transcode/field_form.h"

namespace tarnic {

/// Fields of the old encoding (0..49); the new one adds field 50.
inline constexpr std::size_t OLD_ENTITY_FIELD_COUNT = 50;
inline constexpr std::size_t NEW_ENTITY_FIELD_COUNT = 51;

/// Bytes of a field mask: byte k, bit j announces field 8k + j.
inline constexpr std::size_t ENTITY_MASK_BYTES = 7;

/// The entity number that opens each entry of an entity list and each baseline, and
/// the number that ends an entity list; the same in both protocols.
inline constexpr int ENTITY_NUMBER_BITS = 10;
inline constexpr std::uint32_t ENTITY_LIST_END = 1023;

/// The selector that picks an entity delta's mask: a preset row, or an explicit mask.
inline constexpr int MASK_SELECTOR_BITS = 5;

/// The entity fields by field number; the field's mask bit is its number.
inline constexpr std::array<FieldRow, NEW_ENTITY_FIELD_COUNT> ENTITY_FIELDS = {{
    // field  mask byte, bit      form                   old  new
    /*  0     0  0x01 */      { FieldForm::EntityType,  8,  8 },
    /*  1     0  0x02 */      { FieldForm::Plain,      16, 19 },
    /*  2     0  0x04 */      { FieldForm::Plain,       8,  8 },
    /*  3     0  0x08 */      { FieldForm::Plain,      32, 32 },
    /*  4     0  0x10 */      { FieldForm::Plain,      32, 32 },
    /*  5     0  0x20 */      { FieldForm::Packed,      0,  0 },
    /*  6     0  0x40 */      { FieldForm::Packed,      0,  0 },
    /*  7     0  0x80 */      { FieldForm::Packed,      0,  0 },
    /*  8     1  0x01 */      { FieldForm::Packed,      0,  0 },
    /*  9     1  0x02 */      { FieldForm::Packed,      0,  0 },
    /* 10     1  0x04 */      { FieldForm::Packed,      0,  0 },
    /* 11     1  0x08 */      { FieldForm::Plain,       8,  8 },
    /* 12     1  0x10 */      { FieldForm::Plain,      32, 32 },
    /* 13     1  0x20 */      { FieldForm::Plain,      32, 32 },
    /* 14     1  0x40 */      { FieldForm::Packed,      0,  0 },
    /* 15     1  0x80 */      { FieldForm::Packed,      0,  0 },
    /* 16     2  0x01 */      { FieldForm::Packed,      0,  0 },
    /* 17     2  0x02 */      { FieldForm::Packed,      0,  0 },
    /* 18     2  0x04 */      { FieldForm::Packed,      0,  0 },
    /* 19     2  0x08 */      { FieldForm::Packed,      0,  0 },
    /* 20     2  0x10 */      { FieldForm::Plain,      32, 32 },
    /* 21     2  0x20 */      { FieldForm::Plain,      32, 32 },
    /* 22     2  0x40 */      { FieldForm::Packed,      0,  0 },
    /* 23     2  0x80 */      { FieldForm::Packed,      0,  0 },
    /* 24     3  0x01 */      { FieldForm::Packed,      0,  0 },
    /* 25     3  0x02 */      { FieldForm::Packed,      0,  0 },
    /* 26     3  0x04 */      { FieldForm::Packed,      0,  0 },
    /* 27     3  0x08 */      { FieldForm::Packed,      0,  0 },
    /* 28     3  0x10 */      { FieldForm::Packed,      0,  0 },
    /* 29     3  0x20 */      { FieldForm::Packed,      0,  0 },
    /* 30     3  0x40 */      { FieldForm::Packed,      0,  0 },
    /* 31     3  0x80 */      { FieldForm::Packed,      0,  0 },
    /* 32     4  0x01 */      { FieldForm::Packed,      0,  0 },
    /* 33     4  0x02 */      { FieldForm::Packed,      0,  0 },
    /* 34     4  0x04 */      { FieldForm::Plain,      10, 10 },
    /* 35     4  0x08 */      { FieldForm::Plain,      10, 10 },
    /* 36     4  0x10 */      { FieldForm::Plain,      10, 10 },
    /* 37     4  0x20 */      { FieldForm::Plain,       8,  8 },
    /* 38     4  0x40 */      { FieldForm::Plain,      32, 32 },
    /* 39     4  0x80 */      { FieldForm::Plain,       8,  8 },
    /* 40     5  0x01 */      { FieldForm::Plain,       8,  8 },
    /* 41     5  0x02 */      { FieldForm::Plain,      16, 16 },
    /* 42     5  0x04 */      { FieldForm::Plain,       8,  8 },
    /* 43     5  0x08 */      { FieldForm::Plain,      24, 24 },
    /* 44     5  0x10 */      { FieldForm::Event,      10, 10 },
    /* 45     5  0x20 */      { FieldForm::Plain,       8,  8 },
    /* 46     5  0x40 */      { FieldForm::Plain,      16, 16 },
    /* 47     5  0x80 */      { FieldForm::Plain,       8,  8 },
    /* 48     6  0x01 */      { FieldForm::Plain,       8,  8 },
    /* 49     6  0x02 */      { FieldForm::Plain,       8,  8 },
    /* 50     6  0x04 */      { FieldForm::NewOnly,     0,  8 },
}};

// The old encoding's census: 24 packed values, seven 32-bit fields, one of 24 bits,
// three of 16, four of 10 and eleven of 8.
static_assert([] {
    auto count = [](std::uint8_t oldWidth, FieldForm form) {
        int n = 0;
        for (const FieldRow& field : ENTITY_FIELDS) n += field.oldWidth == oldWidth && field.form == form;
        return n;
    };
    using enum FieldForm;
    return count(0, Packed) == 24 && count(32, Plain) == 7 && count(24, Plain) == 1 && count(16, Plain) == 3 &&
           count(10, Plain) + count(10, Event) == 4 && count(8, Plain) + count(8, EntityType) == 11;
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
