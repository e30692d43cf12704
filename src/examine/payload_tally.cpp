// The fast way over a new-protocol payload, for the common case: a well-formed payload
// of snapshots and server commands. Only what decides where a field ends is read: the
// presence bits of the player state, the masks of the masked arrays, an entity delta's
// head and mask, and the flags of packed values. Every other width follows from those,
// so a delta's mask is described once (the preset rows at compile time, an explicit
// mask as it is read) as the plain bits between the three runs of packed values.
//
// Bits are read through 64-bit windows; a window that reaches past the payload reads
// zeros there, so no read leaves the buffer. Such zeros can only lead the walk further
// past the end, and every loop whose length comes from the data checks the position,
// so a walk over damaged bytes ends soon. Whether it stayed inside is decided where an
// operation ends: past the end, or on anything else that is not well-formed, the walk
// gives up and the caller reads the payload the careful way, which finds the problem.

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "bits/byte_order.h"
#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "examine/new_reader.h"
#include "transcode/entity_fields.h"
#include "transcode/entity_scan.h"
#include "transcode/masked_array.h"
#include "transcode/player_state.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

namespace {

static_assert([] {
    std::uint64_t packed = 0;
    for (const FieldRun& run : PACKED_RUNS) packed |= fieldSpan(run.first, run.end);
    for (unsigned n = 0; n < NEW_ENTITY_FIELD_COUNT; ++n) {
        if ((ENTITY_FIELDS[n].form == FieldForm::Packed) != ((packed >> n & 1) != 0)) return false;
    }
    return true;
}(), "the new fields' packed values lie in the same three runs");

/// New bits of the plain fields a mask byte names, by byte index and byte: everything
/// but packed values has its new width.
inline constexpr auto NEW_PLAIN_BITS_BY_MASK_BYTE = [] {
    std::array<std::array<std::uint8_t, 256>, ENTITY_MASK_BYTES> table{};
    for (std::size_t k = 0; k < ENTITY_MASK_BYTES; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            unsigned bits = 0;
            for (unsigned j = 0; j < 8; ++j) {
                const std::size_t n = 8 * k + j;
                if (!(byte >> j & 1) || n >= NEW_ENTITY_FIELD_COUNT) continue;
                if (ENTITY_FIELDS[n].form != FieldForm::Packed) bits += ENTITY_FIELDS[n].newWidth;
            }
            table[k][byte] = std::uint8_t(bits);
        }
    }
    return table;
}();

/// New bits of the plain fields a mask names among fields [first, end).
constexpr unsigned newPlainBits(std::uint64_t mask, unsigned first, unsigned end) {
    mask &= fieldSpan(first, end);
    unsigned bits = 0;
    for (unsigned k = first / 8; k <= (end - 1) / 8; ++k) {
        bits += NEW_PLAIN_BITS_BY_MASK_BYTE[k][(mask >> (8 * k)) & 0xFF];
    }
    return bits;
}

/// A new-protocol field mask as the walk sees it: runs of packed values, each behind
/// the plain bits before it, then the plain bits behind the last run. Runs with no
/// plain field between them count as one.
struct DeltaScan {
    std::uint8_t runCount;
    std::array<PackedRun, PACKED_RUNS.size()> runs;
    std::uint16_t plainAfter;
};

constexpr DeltaScan deltaScanOf(std::uint64_t mask) {
    DeltaScan scan{};
    unsigned from = 0;
    unsigned plain = 0;
    for (const FieldRun& run : PACKED_RUNS) {
        plain += newPlainBits(mask, from, run.first);
        from = run.end;
        const auto count = std::uint8_t(countFields(mask & fieldSpan(run.first, run.end)));
        if (count == 0) continue;
        addPackedRun(scan.runs, scan.runCount, plain, count);
        plain = 0;
    }
    scan.plainAfter = std::uint16_t(plain + newPlainBits(mask, from, NEW_ENTITY_FIELD_COUNT));
    return scan;
}

inline constexpr auto PRESET_DELTA_SCANS = [] {
    std::array<DeltaScan, EXPLICIT_MASK_SELECTOR> scans{};
    for (std::size_t row = 0; row < scans.size(); ++row) scans[row] = deltaScanOf(ENTITY_PRESET_MASKS[row]);
    return scans;
}();

/// A player-state field as the walk sees it: its width when present, 0 for a packed value.
inline constexpr auto PLAYER_STATE_WIDTHS = [] {
    std::array<std::uint8_t, NEW_PLAYER_STATE_FIELD_COUNT> widths{};
    for (std::size_t n = 0; n < widths.size(); ++n) {
        const FieldRow& row = PLAYER_STATE_FIELDS[n];
        widths[n] = row.form == FieldForm::Packed ? 0 : row.newWidth;
    }
    return widths;
}();

constexpr unsigned NARROW_PACKED = PACKED_FLAG_BITS + PACKED_NARROW_BITS;
constexpr unsigned WIDE_PACKED = PACKED_FLAG_BITS + PACKED_WIDE_BITS;

/// The most bits one entry of an entity list spans: its number, the delta's head, an
/// explicit mask and every field at its widest.
inline constexpr unsigned MAX_NEW_ENTRY_BITS = [] {
    unsigned bits = ENTITY_NUMBER_BITS + 2 + MASK_SELECTOR_BITS + unsigned(NEW_ENTITY_FIELD_COUNT);
    for (const FieldRow& row : ENTITY_FIELDS) bits += row.form == FieldForm::Packed ? WIDE_PACKED : row.newWidth;
    return bits;
}();

/// Bytes from an entry's first byte on that hold every window the entry's walk loads,
/// whatever its bits say: an entry this far from the payload's end loads its windows
/// without checking the end.
inline constexpr std::uint64_t ENTRY_WINDOW_BYTES = MAX_NEW_ENTRY_BITS / 8 + 1 + 8;

class PayloadTallier {
public:
    PayloadTallier(std::span<const std::uint8_t> payload, PayloadTally& tally)
        : data_(payload.data()), size_(std::uint32_t(payload.size())), end_(std::uint64_t{size_} * 8), tally_(tally) {}

    bool walk() {
        std::uint64_t byte = 0;
        while (byte < size_) {
            const std::uint8_t code = data_[byte];
            std::uint64_t next;
            if (code == OP_SNAPSHOT) {
                const std::uint64_t end = snapshotEnd(byte);
                if (end > end_) return false;
                next = (end + 7) >> 3;
                // The padding up to the next byte is zero.
                if ((end & 7) != 0 && (data_[end >> 3] >> (end & 7)) != 0) return false;
            } else if (code == OP_SERVERCOMMAND) {
                next = serverCommandEnd(byte);
                if (next == 0) return false;
            } else if (code == OP_NOP) {
                next = byte + 1;
            } else {
                return false;  // a game state, or a code a message may not hold
            }
            ++tally_.operations[code];
            byte = next;
        }
        return true;
    }

private:
    /// The bits from `position` on; past the payload they read as zero. `NearEnd`
    /// false: the caller knows that the window lies inside the payload.
    template <bool NearEnd = true>
    std::uint64_t window(std::uint64_t position) const {
        const std::uint64_t byte = position >> 3;
        const std::uint64_t bytes = !NearEnd || pktWindowFits(byte, size_) ? loadLittle64(data_ + byte)
                                                                            : pktLoadNearEnd(data_, size_, byte);
        return bytes >> (position & 7);
    }

    /// The byte behind a server command beginning at `byte`, or 0 when it does not lie
    /// whole inside the payload or its text is too long.
    std::uint64_t serverCommandEnd(std::uint64_t byte) const {
        const std::uint64_t text = byte + 5;  // behind the code and the leading 32 bits
        if (text >= size_) return 0;
        const std::size_t span = std::min<std::uint64_t>(size_ - text, MAX_STRING_CHARS);
        const void* nul = std::memchr(data_ + text, 0, span);
        if (!nul) return 0;
        return std::uint64_t(static_cast<const std::uint8_t*>(nul) - data_) + 1;
    }

    /// Steps over `count` packed values from `position`, two a window (the second
    /// flag chosen from both places it can be); returns where they end.
    template <bool NearEnd>
    std::uint64_t packedValuesEnd(std::uint64_t position, unsigned count) const {
        static_assert(WIDE_PACKED + 1 <= 57, "both places of the second flag lie in one window");
        for (int left = int(count); left > 0; left -= 2) {
            const std::uint64_t bits = window<NearEnd>(position);
            const std::uint64_t first = bits & 1;
            const std::uint64_t afterNarrow = (bits >> NARROW_PACKED) & 1;
            const std::uint64_t afterWide = (bits >> WIDE_PACKED) & 1;
            const std::uint64_t second = afterNarrow ^ ((afterNarrow ^ afterWide) & (0 - first));
            const std::uint64_t both = left > 1;
            position += NARROW_PACKED + (WIDE_PACKED - NARROW_PACKED) * first +
                        both * (NARROW_PACKED + (WIDE_PACKED - NARROW_PACKED) * second);
        }
        return position;
    }

    template <bool NearEnd>
    std::uint64_t deltaFieldsEnd(std::uint64_t position, const DeltaScan& scan) const {
        for (unsigned r = 0; r < scan.runCount; ++r) {
            position = packedValuesEnd<NearEnd>(position + scan.runs[r].plainBefore, scan.runs[r].packedCount);
        }
        return position + scan.plainAfter;
    }

    std::uint64_t playerStateEnd(std::uint64_t position) const {
        for (const std::uint8_t width : PLAYER_STATE_WIDTHS) {
            const std::uint64_t bits = window(position);
            if (!(bits & 1)) {
                ++position;
            } else if (width != 0) {
                position += 1 + width;
            } else {
                position += 1 + ((bits >> 1 & 1) ? WIDE_PACKED : NARROW_PACKED);
            }
        }
        for (const int width : MASKED_ARRAY_VALUE_BITS) {
            const std::uint64_t bits = window(position);
            if (!(bits & 1)) {
                ++position;
            } else {
                position += 17 + countFields((bits >> 1) & 0xFFFF) * unsigned(width);
            }
        }
        return position;
    }

    /// Where the entity list from `position` ends, or past the payload; counts its entries.
    /// Entries far enough from the end load their windows unchecked.
    std::uint64_t entityListEnd(std::uint64_t position, std::size_t& entries) const {
        // Each entry spans at least 11 bits, so the list ends with the payload.
        while (position + ENTITY_NUMBER_BITS <= end_) {
            const bool far = (position >> 3) + ENTRY_WINDOW_BYTES <= size_;
            const std::uint64_t next = far ? entryEnd<false>(position) : entryEnd<true>(position);
            if (next == position) return position + ENTITY_NUMBER_BITS;
            ++entries;
            position = next;
        }
        return end_ + 1;
    }

    /// Where the entry at `position` ends; `position` itself for the list's end.
    template <bool NearEnd>
    std::uint64_t entryEnd(std::uint64_t position) const {
        const std::uint64_t bits = window<NearEnd>(position);
        if ((bits & lowBits(ENTITY_NUMBER_BITS)) == ENTITY_LIST_END) return position;
        if (bits >> ENTITY_NUMBER_BITS & 1) return position + ENTITY_NUMBER_BITS + 1;          // removed
        if (!(bits >> (ENTITY_NUMBER_BITS + 1) & 1)) return position + ENTITY_NUMBER_BITS + 2;  // unchanged
        const auto selector = unsigned(bits >> (ENTITY_NUMBER_BITS + 2)) & unsigned(lowBits(MASK_SELECTOR_BITS));
        position += ENTITY_NUMBER_BITS + 2 + MASK_SELECTOR_BITS;
        if (selector != EXPLICIT_MASK_SELECTOR) return deltaFieldsEnd<NearEnd>(position, PRESET_DELTA_SCANS[selector]);
        const std::uint64_t mask = window<NearEnd>(position) & lowBits(NEW_ENTITY_FIELD_COUNT);
        return deltaFieldsEnd<NearEnd>(position + NEW_ENTITY_FIELD_COUNT, deltaScanOf(mask));
    }

    /// Where a snapshot beginning at `byte` ends, or past the payload.
    std::uint64_t snapshotEnd(std::uint64_t byte) {
        // The code, 32 + 8 + 8 bits, then a counted block of bytes.
        std::uint64_t position = (byte + 7) * 8;
        position += 8 + 8 * (window(position) & 0xFF);
        position = playerStateEnd(position);
        if (position > end_) return position;
        std::size_t entries = 0;
        position = entityListEnd(position, entries);
        tally_.mostEntities = std::max(tally_.mostEntities, entries);
        return position;
    }

    const std::uint8_t* data_;
    std::uint32_t size_;
    std::uint64_t end_;  ///< the payload's bits
    PayloadTally& tally_;
};

}  // namespace

bool tallyWellFormedPayload(std::span<const std::uint8_t> payload, PayloadTally& tally) {
    tally = PayloadTally{};
    return PayloadTallier(payload, tally).walk();
}

}  // namespace tarnic::examine
