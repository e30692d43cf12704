#pragma once

#include <array>
#include <cstddef>

#include "transcode/field_form.h"

namespace tarnic {

// Most fields travel unchanged, so the transcoders scan ahead of the reader over them
// and copy the unchanged bits in one go before the next field that changes. A scan
// needs to know only how far each field reaches and whether it changes on the way.

/// How a scan passes one old field.
struct FieldScan {
    std::uint8_t bits;      ///< bits the field always spans: a packed value's flag and narrow value
    std::uint8_t flagBits;  ///< more bits when the field's first bit is 1: a wide packed value's
    bool converts;          ///< the value changes on the way, so it is read and written anew
};

constexpr FieldScan scanOf(const FieldRow& row) {
    switch (row.form) {
        case FieldForm::Packed:
            return {PACKED_FLAG_BITS + PACKED_NARROW_BITS, PACKED_WIDE_BITS - PACKED_NARROW_BITS, false};
        case FieldForm::Plain: return {row.oldWidth, 0, row.oldWidth != row.newWidth};
        case FieldForm::EntityType:
        case FieldForm::Event: return {row.oldWidth, 0, true};
        case FieldForm::NewOnly: break;
    }
    return {0, 0, false};
}

/// The scans of the first `Count` rows of a field table: the fields of the old encoding.
template <std::size_t Count, std::size_t Rows>
constexpr std::array<FieldScan, Count> scanTable(const std::array<FieldRow, Rows>& rows) {
    static_assert(Count <= Rows);
    std::array<FieldScan, Count> scans{};
    for (std::size_t n = 0; n < Count; ++n) scans[n] = scanOf(rows[n]);
    return scans;
}

}  // namespace tarnic
