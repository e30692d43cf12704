#include "transcode/entity_delta.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "bits/packet_copy.h"
#include "transcode/entity_fields.h"
#include "transcode/remap.h"

namespace tarnic {

namespace {

constexpr int ENTITY_NUMBER_BITS = 10;
constexpr std::uint32_t ENTITY_LIST_END = 1023;
constexpr int MASK_SELECTOR_BITS = 5;

/// The largest entity type field 0 can carry.
constexpr std::int32_t MAX_ENTITY_TYPE = 255;

// Most of an entity list is copied unchanged: entity numbers, flags, selectors and
// most fields. The conversion therefore scans ahead of the reader, peeking at what it
// must know (flags, selectors, packed-value flags), and gathers what stays unchanged
// into a run of bits that is copied in one go before the next element that changes.
// `run` is always the number of bits between the reader and the scan position.

/// Copies the run, then converts the explicit mask behind it and returns it, bit n
/// for field n. The old mask is 50 bits; the new one adds mask bit 50 as a zero.
std::uint64_t convertExplicitMask(PacketReader& reader, PacketWriter& writer, std::uint64_t run) {
    pktCopyBits(reader, writer, run);
    const std::uint32_t low = pktReadBits(reader, 32);
    const std::uint32_t high = pktReadBits(reader, int(OLD_ENTITY_FIELD_COUNT) - 32);
    const std::uint64_t mask = std::uint64_t{low} | std::uint64_t{high} << 32;
    pktWriteWord(writer, mask, NEW_ENTITY_FIELD_COUNT);
    return mask;
}

/// Copies the run, then reads the field's old value and writes `convert` of it.
template <typename Convert>
void convertField(PacketReader& reader, PacketWriter& writer, std::uint64_t run, const EntityField& field,
                  Convert convert) {
    pktCopyBits(reader, writer, run);
    const auto oldValue = std::int32_t(pktReadBits(reader, field.oldBits));
    pktWriteBits(writer, convert(oldValue), field.newBits);
}

/// Scans the fields the mask announces; returns the run left to copy.
std::uint64_t scanFields(PacketReader& reader, PacketWriter& writer, std::uint64_t run, std::uint64_t mask) {
    for (; mask != 0; mask &= mask - 1) {
        const auto fieldNumber = std::size_t(std::countr_zero(mask));
        assert(fieldNumber < OLD_ENTITY_FIELD_COUNT);
        const EntityField& field = ENTITY_FIELDS[fieldNumber];
        switch (field.form) {
            case FIELD_PLAIN:
                if (field.oldBits == field.newBits) {
                    run += field.oldBits;
                } else {
                    convertField(reader, writer, run, field, [](std::int32_t value) { return value; });
                    run = 0;
                }
                break;
            case FIELD_PACKED:
                run += pktPeekBits(reader, run, 1) ? 1 + 32 : 1 + 13;
                break;
            case FIELD_ENTITY_TYPE:
                // Old type 255 becomes 256, whose low byte would be type 0: a different
                // kind of entity. The nearest type the field holds is kept instead.
                convertField(reader, writer, run, field,
                             [](std::int32_t type) { return std::min(remapEntityType(type), MAX_ENTITY_TYPE); });
                run = 0;
                break;
            case FIELD_EVENT:
                convertField(reader, writer, run, field, remapEvent);
                run = 0;
                break;
            case FIELD_NEW_ONLY:
                break;
        }
    }
    return run;
}

/// Scans one delta that starts `run` bits ahead of the reader; returns the run left to copy.
std::uint64_t scanDelta(PacketReader& reader, PacketWriter& writer, std::uint64_t run) {
    // Removal bit, change bit, selector: peeked together, copied unchanged.
    const std::uint32_t head = pktPeekBits(reader, run, 2 + MASK_SELECTOR_BITS);
    if (head & 1) return run + 1;        // removed
    if (!(head & 2)) return run + 2;     // unchanged
    const std::uint32_t selector = head >> 2;
    run += 2 + MASK_SELECTOR_BITS;
    if (selector == EXPLICIT_MASK_SELECTOR) {
        return scanFields(reader, writer, 0, convertExplicitMask(reader, writer, run));
    }
    return scanFields(reader, writer, run, ENTITY_PRESET_MASKS[selector]);
}

}  // namespace

void transcodeEntityDelta(PacketReader& reader, PacketWriter& writer) {
    pktCopyBits(reader, writer, scanDelta(reader, writer, 0));
}

void transcodeEntityList(PacketReader& reader, PacketWriter& writer) {
    std::uint64_t run = 0;
    for (;;) {
        // Where the entry starts in the output, once everything before it is written.
        const std::uint64_t entryStart = pktWrittenBits(writer) + run;
        const std::uint32_t entityNumber = pktPeekBits(reader, run, ENTITY_NUMBER_BITS);
        run += ENTITY_NUMBER_BITS;
        if (entityNumber != ENTITY_LIST_END) run = scanDelta(reader, writer, run);
        // Past the payload every bit reads as zero, which would repeat entity 0 for ever.
        // An entry cut by the end is not data: leave it out and let the caller see the flag.
        if (reader.pastEnd || run > pktBitsLeft(reader)) {
            pktCopyBits(reader, writer, run);
            reader.pastEnd = true;
            pktRewindWriter(writer, entryStart);
            return;
        }
        if (entityNumber == ENTITY_LIST_END) {
            pktCopyBits(reader, writer, run);
            return;
        }
    }
}

}  // namespace tarnic
