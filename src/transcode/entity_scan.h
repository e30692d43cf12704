#pragma once

// The fast way over an entity delta's fields. Only the flags of packed values decide
// where a delta ends: every other field's width follows from the mask alone. A mask is
// therefore described once (the preset rows at compile time, an explicit mask as it is
// read): the plain bits summed between the three runs of packed values, how many packed
// values each run holds, and which of the fields that convert it names. Walking a delta
// then reads nothing but the packed-value flags, each from a 64-bit window, and no walk
// checks the payload's end: the caller walks this way only far enough from it.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "bits/byte_order.h"
#include "transcode/entity_fields.h"
#include "transcode/field_scan.h"

namespace tarnic {

/// The runs of packed values among the old fields, as [first, end) field numbers.
struct FieldRun {
    unsigned first, end;
};
inline constexpr std::array<FieldRun, 3> PACKED_RUNS = {{{5, 11}, {14, 20}, {22, 34}}};

/// The fields that convert: the entity type and field 1 lead, the event comes behind
/// every packed value.
inline constexpr unsigned EVENT_FIELD = 44;
inline constexpr std::uint64_t CONVERTING_FIELDS = 0b11 | std::uint64_t{1} << EVENT_FIELD;

/// Mask bits from field `first` up to, not including, field `end`.
constexpr std::uint64_t fieldSpan(unsigned first, unsigned end) { return lowBits(end) & ~lowBits(first); }

static_assert([] {
    constexpr auto scans = scanTable<OLD_ENTITY_FIELD_COUNT>(ENTITY_FIELDS);
    std::uint64_t packed = 0;
    for (const FieldRun& run : PACKED_RUNS) packed |= fieldSpan(run.first, run.end);
    for (unsigned n = 0; n < OLD_ENTITY_FIELD_COUNT; ++n) {
        const std::uint64_t bit = std::uint64_t{1} << n;
        if ((ENTITY_FIELDS[n].form == FieldForm::Packed) != ((packed & bit) != 0)) return false;
        if (scans[n].converts != ((CONVERTING_FIELDS & bit) != 0)) return false;
    }
    return (CONVERTING_FIELDS & fieldSpan(2, EVENT_FIELD)) == 0;
}(), "packed values lie in the three runs; only fields 0, 1 and the event convert");

/// Old bits of the plain fields a mask byte names, by byte index and byte: fields that
/// convert or are packed count nothing.
inline constexpr auto PLAIN_BITS_BY_MASK_BYTE = [] {
    std::array<std::array<std::uint16_t, 256>, ENTITY_MASK_BYTES> table{};
    for (std::size_t k = 0; k < ENTITY_MASK_BYTES; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            for (unsigned j = 0; j < 8; ++j) {
                const std::size_t n = 8 * k + j;
                if (!(byte >> j & 1) || n >= OLD_ENTITY_FIELD_COUNT || (CONVERTING_FIELDS >> n & 1)) continue;
                if (ENTITY_FIELDS[n].form == FieldForm::Plain) table[k][byte] += ENTITY_FIELDS[n].oldWidth;
            }
        }
    }
    return table;
}();

/// Old bits of the plain fields a mask names.
constexpr unsigned plainBits(std::uint64_t mask) {
    unsigned bits = 0;
    for (std::size_t k = 0; k < ENTITY_MASK_BYTES; ++k) bits += PLAIN_BITS_BY_MASK_BYTE[k][(mask >> (8 * k)) & 0xFF];
    return bits;
}

/// The set bits of a mask, by adding neighbouring counts: std::popcount is a library call
/// where the target may lack the instruction, and explicit masks are counted often.
constexpr unsigned countFields(std::uint64_t mask) {
    mask -= (mask >> 1) & 0x5555555555555555u;
    mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return unsigned((mask * 0x0101010101010101u) >> 56);
}
static_assert(countFields(0) == 0 && countFields(~std::uint64_t{0}) == 64 && countFields(0x8000000000000101u) == 3);

/// Packed values next to each other, behind the plain bits before them.
struct PackedRun {
    std::uint16_t plainBefore;
    std::uint8_t packedCount;
};

/// Adds `count` packed values, behind `plain` plain bits, to a scan's runs: with no
/// plain bits between them, they join the run before.
template <std::size_t Runs>
constexpr void addPackedRun(std::array<PackedRun, Runs>& runs, std::uint8_t& runCount, unsigned plain,
                            std::uint8_t count) {
    if (plain == 0 && runCount > 0) {
        runs[runCount - 1].packedCount = std::uint8_t(runs[runCount - 1].packedCount + count);
    } else {
        runs[runCount++] = {std::uint16_t(plain), count};
    }
}

/// A field mask as the fast walk sees it. Runs with no plain field named between them
/// count as one, so that most preset rows walk a single run.
struct MaskScan {
    std::uint64_t converting;  ///< the converting fields it names, as mask bits
    std::uint8_t runCount;
    std::array<PackedRun, PACKED_RUNS.size()> runs;
    std::uint16_t plainAfter;  ///< plain bits behind the last run, before the event
    std::uint16_t tailBits;    ///< plain bits behind the event
};

constexpr MaskScan maskScanOf(std::uint64_t mask) {
    MaskScan scan{};
    scan.converting = mask & CONVERTING_FIELDS;
    unsigned from = 0;
    unsigned plain = 0;
    for (const FieldRun& run : PACKED_RUNS) {
        plain += plainBits(mask & fieldSpan(from, run.first));
        from = run.end;
        const auto count = std::uint8_t(countFields(mask & fieldSpan(run.first, run.end)));
        if (count == 0) continue;
        addPackedRun(scan.runs, scan.runCount, plain, count);
        plain = 0;
    }
    scan.plainAfter = std::uint16_t(plain + plainBits(mask & fieldSpan(from, EVENT_FIELD)));
    scan.tailBits = std::uint16_t(plainBits(mask & fieldSpan(EVENT_FIELD + 1, OLD_ENTITY_FIELD_COUNT)));
    return scan;
}

inline constexpr auto PRESET_SCANS = [] {
    std::array<MaskScan, EXPLICIT_MASK_SELECTOR> scans{};
    for (std::size_t row = 0; row < scans.size(); ++row) scans[row] = maskScanOf(ENTITY_PRESET_MASKS[row]);
    return scans;
}();

/// A preset row that converts nothing and names one or two packed values, the first
/// right behind the selector: where its fields end follows from the delta's first
/// 64-bit window, which the list has read already, so one walk serves every such row
/// with no read of its own.
constexpr bool isShortRow(const MaskScan& scan) {
    return scan.converting == 0 && scan.runCount == 1 && scan.runs[0].plainBefore == 0 &&
           scan.runs[0].packedCount <= 2;
}

/// The short rows of two packed values, bit n for preset row n.
inline constexpr std::uint32_t SHORT_ROWS_OF_TWO = [] {
    std::uint32_t rows = 0;
    for (std::size_t row = 0; row < PRESET_SCANS.size(); ++row) {
        rows |= std::uint32_t{isShortRow(PRESET_SCANS[row]) && PRESET_SCANS[row].runs[0].packedCount == 2} << row;
    }
    return rows;
}();

/// A short row's bits behind the selector with every packed value narrow.
inline constexpr auto SHORT_ROW_BITS = [] {
    std::array<std::uint16_t, PRESET_SCANS.size()> bits{};
    for (std::size_t row = 0; row < bits.size(); ++row) {
        const MaskScan& scan = PRESET_SCANS[row];
        if (!isShortRow(scan)) continue;
        bits[row] = std::uint16_t(scan.runs[0].packedCount * (PACKED_FLAG_BITS + PACKED_NARROW_BITS) + scan.plainAfter +
                                  scan.tailBits);
    }
    return bits;
}();

/// Where a short row's first packed value starts in its delta: behind the removal bit,
/// the change bit and the selector.
inline constexpr unsigned SHORT_ROW_FLAG = 2 + MASK_SELECTOR_BITS;
/// The bits of a delta that decide where a short row ends: up to the second packed
/// value's flag behind a wide first value.
inline constexpr unsigned HEAD_WINDOW_BITS = SHORT_ROW_FLAG + PACKED_FLAG_BITS + PACKED_WIDE_BITS + 1;

/// Where a delta under short row `row` ends: `head` holds the delta's first
/// HEAD_WINDOW_BITS bits, and `scan` is the bit behind its selector.
inline std::uint64_t walkShortRow(std::uint64_t head, std::uint64_t scan, std::uint32_t row) {
    constexpr unsigned NARROW = PACKED_FLAG_BITS + PACKED_NARROW_BITS;
    constexpr unsigned WIDE = PACKED_FLAG_BITS + PACKED_WIDE_BITS;
    const std::uint64_t first = (head >> SHORT_ROW_FLAG) & 1;
    // The first value's width places the second flag: a shift by it, no branch on random data.
    const auto firstBits = unsigned(NARROW + (WIDE - NARROW) * first);
    const std::uint64_t second = (head >> (SHORT_ROW_FLAG + firstBits)) & (SHORT_ROWS_OF_TWO >> row) & 1;
    return scan + SHORT_ROW_BITS[row] + (WIDE - NARROW) * (first + second);
}

/// The most bits one entry of an entity list spans: its number, the delta's head, an
/// explicit mask and every field at its widest. A walk that starts this far from the
/// payload's end, plus a window, stays inside it.
inline constexpr unsigned MAX_ENTRY_BITS = [] {
    unsigned bits = 10 + 2 + 5 + unsigned(OLD_ENTITY_FIELD_COUNT);
    for (std::size_t n = 0; n < OLD_ENTITY_FIELD_COUNT; ++n) {
        const FieldScan scan = scanOf(ENTITY_FIELDS[n]);
        bits += scan.bits + scan.flagBits;
    }
    return bits;
}();

/// The most bits a delta spans, by its first 2 + MASK_SELECTOR_BITS bits (removal bit,
/// change bit, selector): a walk that starts this far from the payload's end, plus a
/// window, stays inside it. Small messages lie within MAX_ENTRY_BITS of their end all
/// through; most of their deltas are known to fit by their heads.
inline constexpr auto DELTA_MAX_BITS = [] {
    constexpr auto scans = scanTable<OLD_ENTITY_FIELD_COUNT>(ENTITY_FIELDS);
    const auto fieldBits = [&](std::uint64_t mask) {
        unsigned bits = 0;
        for (std::size_t n = 0; n < OLD_ENTITY_FIELD_COUNT; ++n) {
            if (mask >> n & 1) bits += scans[n].bits + scans[n].flagBits;
        }
        return bits;
    };
    std::array<std::uint16_t, 1u << (2 + MASK_SELECTOR_BITS)> table{};
    for (unsigned head = 0; head < table.size(); ++head) {
        const unsigned selector = head >> 2;
        if (head & 1) {
            table[head] = 1;
        } else if (!(head & 2)) {
            table[head] = 2;
        } else if (selector == EXPLICIT_MASK_SELECTOR) {
            table[head] = std::uint16_t(2 + MASK_SELECTOR_BITS + OLD_ENTITY_FIELD_COUNT + fieldBits(lowBits(OLD_ENTITY_FIELD_COUNT)));
        } else {
            table[head] = std::uint16_t(2 + MASK_SELECTOR_BITS + fieldBits(ENTITY_PRESET_MASKS[selector]));
        }
    }
    return table;
}();
static_assert(MAX_ENTRY_BITS == ENTITY_NUMBER_BITS + DELTA_MAX_BITS[2 | EXPLICIT_MASK_SELECTOR << 2]);

/// Steps over `count` packed values from bit `position`; returns where they end. The
/// flags are a chain, each position depending on the flag before: two values per window
/// halve its length, the second flag chosen from both places it can be. An odd count
/// takes the same step with its second half left out, so that the step count is the
/// only branch.
inline std::uint64_t walkPackedValues(const std::uint8_t* data, std::uint64_t position, unsigned count) {
    constexpr unsigned NARROW = PACKED_FLAG_BITS + PACKED_NARROW_BITS;
    constexpr unsigned WIDE = PACKED_FLAG_BITS + PACKED_WIDE_BITS;
    static_assert(WIDE + 1 <= 57, "both places of the second flag lie in one window");
    for (int left = int(count); left > 0; left -= 2) {
        const std::uint64_t window = loadLittle64(data + (position >> 3)) >> (position & 7);
        const std::uint64_t first = window & 1;
        // The flag is random data: select by masks, as a branch would mostly guess wrong.
        const std::uint64_t afterNarrow = (window >> NARROW) & 1;
        const std::uint64_t afterWide = (window >> WIDE) & 1;
        const std::uint64_t second = afterNarrow ^ ((afterNarrow ^ afterWide) & (0 - first));
        const std::uint64_t both = left > 1;
        position += NARROW + (WIDE - NARROW) * first + both * (NARROW + (WIDE - NARROW) * second);
    }
    return position;
}

/// `walkPackedValues` for a count known at compile time, as a preset row's runs are:
/// the steps are laid out one after another, with no count to keep and no step that
/// leaves its second half out.
template <unsigned Count>
inline std::uint64_t walkPackedRun(const std::uint8_t* data, std::uint64_t position) {
    constexpr unsigned NARROW = PACKED_FLAG_BITS + PACKED_NARROW_BITS;
    constexpr unsigned WIDE = PACKED_FLAG_BITS + PACKED_WIDE_BITS;
    for (unsigned pair = 0; pair < Count / 2; ++pair) {
        const std::uint64_t window = loadLittle64(data + (position >> 3)) >> (position & 7);
        const std::uint64_t first = window & 1;
        const std::uint64_t afterNarrow = (window >> NARROW) & 1;
        const std::uint64_t afterWide = (window >> WIDE) & 1;
        const std::uint64_t second = afterNarrow ^ ((afterNarrow ^ afterWide) & (0 - first));
        position += 2 * NARROW + (WIDE - NARROW) * (first + second);
    }
    if constexpr (Count % 2 == 1) {
        const std::uint64_t first = (data[position >> 3] >> (position & 7)) & 1;
        position += NARROW + (WIDE - NARROW) * first;
    }
    return position;
}

}  // namespace tarnic
