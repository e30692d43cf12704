#include "transcode/entity_delta.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <utility>

#include "bits/packet_copy.h"
#include "transcode/entity_fields.h"
#include "transcode/entity_scan.h"
#include "transcode/field_scan.h"
#include "transcode/remap.h"

namespace tarnic {

namespace {

/// The largest entity type field 0 can carry.
constexpr std::int32_t MAX_ENTITY_TYPE = 255;

// Most of an entity list is copied unchanged: entity numbers, flags, selectors and
// most fields. The conversion therefore scans ahead of the reader, peeking at what it
// must know (flags, selectors, packed-value flags), and leaves what stays unchanged
// behind it, to be copied in one go before the next element that changes. `scan` is
// the bit position the scan has reached; the reader stays at the first bit not copied.

/// Copies up to the explicit mask at `scan`, then converts the mask and returns it,
/// bit n for field n. The old mask is 50 bits; the new one adds mask bit 50 as a zero.
std::uint64_t convertExplicitMask(PacketReader& reader, PacketWriter& writer, std::uint64_t scan) {
    const PacketView payload = pktView(reader);
    const std::uint64_t mask = std::uint64_t{pktPeekAt(payload, scan, 32)} |
                               std::uint64_t{pktPeekAt(payload, scan + 32, int(OLD_ENTITY_FIELD_COUNT) - 32)} << 32;
    pktCopyUpToThenReplace(reader, writer, scan, OLD_ENTITY_FIELD_COUNT, mask, NEW_ENTITY_FIELD_COUNT);
    return mask;
}

constexpr auto FIELD_SCANS = scanTable<OLD_ENTITY_FIELD_COUNT>(ENTITY_FIELDS);

/// Copies up to the field at `scan`, then reads its old value and writes the new one;
/// returns where the field ends.
/// Kept out of line: the scan loop stays small and holds its state in registers.
[[gnu::noinline]] std::uint64_t convertField(PacketReader& reader, PacketWriter& writer, std::uint64_t scan,
                                             std::size_t fieldNumber) {
    const FieldRow& field = ENTITY_FIELDS[fieldNumber];
    auto value = std::int32_t(pktPeekAt(pktView(reader), scan, field.oldWidth));
    if (field.form == FieldForm::EntityType) {
        // Old type 255 becomes 256, whose low byte would be type 0: a different
        // kind of entity. The nearest type the field holds is kept instead.
        value = std::min(remapEntityType(value), MAX_ENTITY_TYPE);
    } else if (field.form == FieldForm::Event) {
        value = remapEvent(value);
    }
    pktCopyUpToThenReplace(reader, writer, scan, field.oldWidth, std::uint32_t(value), field.newWidth);
    return scan + field.oldWidth;
}

static_assert(ENTITY_FIELDS[0].form == FieldForm::EntityType && ENTITY_FIELDS[1].form == FieldForm::Plain);

/// `convertField` for fields 0 and 1 together, where a mask names both: the type and
/// the plain field behind it are read at once and written in one go. Returns where
/// field 1 ends.
[[gnu::noinline]] std::uint64_t convertLeadingFields(PacketReader& reader, PacketWriter& writer, std::uint64_t scan) {
    constexpr FieldRow TYPE = ENTITY_FIELDS[0];
    constexpr FieldRow SECOND = ENTITY_FIELDS[1];
    constexpr unsigned OLD_BITS = TYPE.oldWidth + SECOND.oldWidth;
    const std::uint32_t both = pktPeekAt(pktView(reader), scan, int(OLD_BITS));
    const std::int32_t type = std::min(remapEntityType(std::int32_t(both & lowBits(TYPE.oldWidth))), MAX_ENTITY_TYPE);
    const std::uint64_t value = (std::uint32_t(type) & lowBits(TYPE.newWidth)) |
                                std::uint64_t{both >> TYPE.oldWidth} << TYPE.newWidth;
    pktCopyUpToThenReplace(reader, writer, scan, OLD_BITS, value, TYPE.newWidth + SECOND.newWidth);
    return scan + OLD_BITS;
}

/// Scans the fields the mask announces from `scan` on; returns where they end.
std::uint64_t scanFields(PacketReader& reader, PacketWriter& writer, PacketView payload, std::uint64_t scan,
                         std::uint64_t mask) {
    for (; mask != 0; mask &= mask - 1) {
        const auto fieldNumber = std::size_t(std::countr_zero(mask));
        assert(fieldNumber < OLD_ENTITY_FIELD_COUNT);
        const FieldScan& field = FIELD_SCANS[fieldNumber];
        if (field.converts) {
            scan = convertField(reader, writer, scan, fieldNumber);
            continue;
        }
        // The flag of a packed value is random data: a mask instead of a branch.
        const std::uint32_t firstBit = pktPeekAt(payload, scan, 1);
        scan += field.bits + ((0u - firstBit) & field.flagBits);
    }
    return scan;
}

/// Walks the fields `fields` describes from `scan` on, converting those that change;
/// returns where they end. Only for fields that lie, with a window, inside the payload.
std::uint64_t walkFields(PacketReader& reader, PacketWriter& writer, const std::uint8_t* data, std::uint64_t scan,
                         const MaskScan& fields) {
    const bool converts = fields.converting != 0;
    if (converts) {
        if ((fields.converting & 3) == 3) {
            scan = convertLeadingFields(reader, writer, scan);
        } else {
            if (fields.converting & 1) scan = convertField(reader, writer, scan, 0);
            if (fields.converting & 2) scan = convertField(reader, writer, scan, 1);
        }
    }
    for (unsigned run = 0; run < fields.runCount; ++run) {
        scan = walkPackedValues(data, scan + fields.runs[run].plainBefore, fields.runs[run].packedCount);
    }
    scan += fields.plainAfter;
    if (converts && (fields.converting >> EVENT_FIELD & 1)) scan = convertField(reader, writer, scan, EVENT_FIELD);
    return scan + fields.tailBits;
}

/// `walkFields` for preset row `Row`, whose description is a constant: the runs and
/// the fields that convert are laid out in code.
template <std::size_t Row>
std::uint64_t walkPreset(PacketReader& reader, PacketWriter& writer, const std::uint8_t* data, std::uint64_t scan,
                         std::uint64_t /*head*/) {
    constexpr MaskScan fields = PRESET_SCANS[Row];
    if constexpr ((fields.converting & 3) == 3) {
        scan = convertLeadingFields(reader, writer, scan);
    } else {
        if constexpr ((fields.converting & 1) != 0) scan = convertField(reader, writer, scan, 0);
        if constexpr ((fields.converting & 2) != 0) scan = convertField(reader, writer, scan, 1);
    }
    [&]<std::size_t... Run>(std::index_sequence<Run...>) {
        ((scan = walkPackedRun<fields.runs[Run].packedCount>(data, scan + fields.runs[Run].plainBefore)), ...);
    }(std::make_index_sequence<fields.runCount>());
    scan += fields.plainAfter;
    if constexpr ((fields.converting >> EVENT_FIELD & 1) != 0) scan = convertField(reader, writer, scan, EVENT_FIELD);
    return scan + fields.tailBits;
}

/// The walk of a delta under preset row `row`: `head` holds the delta's first
/// HEAD_WINDOW_BITS bits, and `scan` is the bit behind its selector.
using PresetWalk = std::uint64_t (*)(PacketReader&, PacketWriter&, const std::uint8_t*, std::uint64_t scan,
                                     std::uint64_t head);

/// Every short row: one walk for all of them, from the bits in hand, so that the jump
/// to it has one target however the selectors among them fall.
std::uint64_t walkShortPreset(PacketReader&, PacketWriter&, const std::uint8_t*, std::uint64_t scan,
                              std::uint64_t head) {
    return walkShortRow(head, scan, std::uint32_t(head >> 2) & lowBits(MASK_SELECTOR_BITS));
}

constexpr auto PRESET_WALKS = []<std::size_t... Row>(std::index_sequence<Row...>) {
    return std::array<PresetWalk, sizeof...(Row)>{
        (isShortRow(PRESET_SCANS[Row]) ? &walkShortPreset : &walkPreset<Row>)...};
}(std::make_index_sequence<PRESET_SCANS.size()>());

/// The delta at `scan`, whose first HEAD_WINDOW_BITS bits are those of `head`, by the
/// fast walk; returns where it ends. Only for a delta that lies, with a window, inside
/// the payload.
[[gnu::always_inline]] inline std::uint64_t walkDelta(PacketReader& reader, PacketWriter& writer,
                                                      const std::uint8_t* data, std::uint64_t scan, std::uint64_t head) {
    if (head & 1) return scan + 1;     // removed
    if (!(head & 2)) return scan + 2;  // unchanged
    const auto selector = std::uint32_t(head >> 2) & lowBits(MASK_SELECTOR_BITS);
    scan += 2 + MASK_SELECTOR_BITS;
    if (selector == EXPLICIT_MASK_SELECTOR) {
        const std::uint64_t mask = convertExplicitMask(reader, writer, scan);
        return walkFields(reader, writer, data, scan + OLD_ENTITY_FIELD_COUNT, maskScanOf(mask));
    }
    return PRESET_WALKS[selector](reader, writer, data, scan, head);
}

/// An entry that starts this many bits or more before the payload's end lies inside it
/// with the window of its last read.
constexpr std::uint64_t WALKABLE_ENTRY_MARGIN = MAX_ENTRY_BITS + 64;

/// Scans the delta at `scan`, checking every read against the payload's end; returns
/// where it ends.
std::uint64_t scanDelta(PacketReader& reader, PacketWriter& writer, PacketView payload, std::uint64_t scan) {
    // Removal bit, change bit, selector: peeked together, copied unchanged.
    const std::uint32_t head = pktPeekAt(payload, scan, 2 + MASK_SELECTOR_BITS);
    if (head & 1) return scan + 1;     // removed
    if (!(head & 2)) return scan + 2;  // unchanged
    const std::uint32_t selector = head >> 2;
    scan += 2 + MASK_SELECTOR_BITS;
    if (selector == EXPLICIT_MASK_SELECTOR) {
        const std::uint64_t mask = convertExplicitMask(reader, writer, scan);
        return scanFields(reader, writer, payload, scan + OLD_ENTITY_FIELD_COUNT, mask);
    }
    return scanFields(reader, writer, payload, scan, ENTITY_PRESET_MASKS[selector]);
}

}  // namespace

void transcodeEntityDelta(PacketReader& reader, PacketWriter& writer) {
    const PacketView payload = pktView(reader);
    const std::uint64_t scan = pktReadPosition(reader);
    // A game state's baselines, far from the payload's end: the fast walk, as in lists.
    if (scan + WALKABLE_ENTRY_MARGIN <= std::uint64_t{payload.size} * 8) {
        const std::uint64_t head = loadLittle64(payload.data + (scan >> 3)) >> (scan & 7);
        pktCopyUpTo(reader, writer, walkDelta(reader, writer, payload.data, scan, head));
        return;
    }
    pktCopyUpTo(reader, writer, scanDelta(reader, writer, payload, scan));
}

// A 64-bit window read at any bit offset holds 57 bits: an entry's number and its delta's head.
static_assert(ENTITY_NUMBER_BITS + HEAD_WINDOW_BITS <= 57);

void transcodeEntityList(PacketReader& reader, PacketWriter& writer) {
    const PacketView payload = pktView(reader);
    const std::uint64_t payloadBits = std::uint64_t{payload.size} * 8;
    std::uint64_t scan = pktReadPosition(reader);
    // Far from the end no entry can reach past it: the fast walk, without checks and with
    // one test of the position per entry.
    while (scan + WALKABLE_ENTRY_MARGIN <= payloadBits) {
        const std::uint64_t window = loadLittle64(payload.data + (scan >> 3)) >> (scan & 7);
        scan += ENTITY_NUMBER_BITS;
        if ((window & lowBits(ENTITY_NUMBER_BITS)) == ENTITY_LIST_END) {
            pktCopyUpTo(reader, writer, scan);
            return;
        }
        scan = walkDelta(reader, writer, payload.data, scan, window >> ENTITY_NUMBER_BITS);
    }
    // Nearer, an entry whose head shows that it cannot reach past the end still walks.
    while (scan + 64 <= payloadBits) {
        const std::uint64_t window = loadLittle64(payload.data + (scan >> 3)) >> (scan & 7);
        const std::uint64_t head = window >> ENTITY_NUMBER_BITS;
        if (scan + WALKABLE_ENTRY_MARGIN > payloadBits &&
            scan + ENTITY_NUMBER_BITS + DELTA_MAX_BITS[head & lowBits(2 + MASK_SELECTOR_BITS)] + 64 > payloadBits) {
            break;
        }
        scan += ENTITY_NUMBER_BITS;
        if ((window & lowBits(ENTITY_NUMBER_BITS)) == ENTITY_LIST_END) {
            pktCopyUpTo(reader, writer, scan);
            return;
        }
        scan = walkDelta(reader, writer, payload.data, scan, head);
    }
    // Near the end every read is checked.
    for (;;) {
        // Where the entry starts in the output, once everything before it is written.
        const std::uint64_t entryStart = pktWrittenBits(writer) + (scan - pktReadPosition(reader));
        const std::uint32_t entityNumber = pktPeekAt(payload, scan, ENTITY_NUMBER_BITS);
        scan += ENTITY_NUMBER_BITS;
        if (entityNumber != ENTITY_LIST_END) scan = scanDelta(reader, writer, payload, scan);
        // Past the payload every bit reads as zero, which would repeat entity 0 for ever.
        // An entry cut by the end is not data: leave it out and let the caller see the flag.
        if (reader.pastEnd || scan > payloadBits) {
            pktCopyUpTo(reader, writer, scan);
            reader.pastEnd = true;
            pktRewindWriter(writer, entryStart);
            return;
        }
        if (entityNumber == ENTITY_LIST_END) {
            pktCopyUpTo(reader, writer, scan);
            return;
        }
    }
}

}  // namespace tarnic
