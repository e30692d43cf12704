#include "transcode/entity_delta.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "transcode/entity_fields.h"
#include "transcode/remap.h"

namespace tarnic {

namespace {

constexpr int ENTITY_NUMBER_BITS = 10;
constexpr std::uint32_t ENTITY_LIST_END = 1023;
constexpr int MASK_SELECTOR_BITS = 5;

/// The largest entity type field 0 can carry.
constexpr std::int32_t MAX_ENTITY_TYPE = 255;

/// Copies an explicit mask and returns it, bit n for field n. The groups travel least
/// significant bit first, so mask bits 0..49 are one run of bits; the new encoding
/// adds mask bit 50 as a zero behind them.
std::uint64_t copyExplicitMask(PacketReader& reader, PacketWriter& writer) {
    const std::uint32_t low = pktReadBits(reader, 32);
    pktWriteBits(writer, std::int32_t(low), 32);
    const std::uint32_t high = pktReadBits(reader, int(OLD_ENTITY_FIELD_COUNT) - 32);
    pktWriteBits(writer, std::int32_t(high), int(NEW_ENTITY_FIELD_COUNT) - 32);
    return std::uint64_t{low} | std::uint64_t{high} << 32;
}

/// Copies a packed value: flag bit, then 32 bits if it is 1, else 13.
void copyPackedValue(PacketReader& reader, PacketWriter& writer) {
    // The flag and the first 13 bits move as one field; a wide value then has 19 bits to go.
    const std::uint32_t head = pktReadBits(reader, 14);
    pktWriteBits(writer, std::int32_t(head), 14);
    if (head & 1) pktWriteBits(writer, std::int32_t(pktReadBits(reader, 19)), 19);
}

void copyFields(PacketReader& reader, PacketWriter& writer, std::uint64_t mask) {
    for (; mask != 0; mask &= mask - 1) {
        const auto fieldNumber = std::size_t(std::countr_zero(mask));
        assert(fieldNumber < OLD_ENTITY_FIELD_COUNT);
        const EntityField& field = ENTITY_FIELDS[fieldNumber];
        switch (field.form) {
            case FIELD_PLAIN:
                pktWriteBits(writer, std::int32_t(pktReadBits(reader, field.oldBits)), field.newBits);
                break;
            case FIELD_PACKED:
                copyPackedValue(reader, writer);
                break;
            case FIELD_ENTITY_TYPE: {
                // Old type 255 becomes 256, whose low byte would be type 0: a different
                // kind of entity. The nearest type the field holds is kept instead.
                const std::int32_t type = remapEntityType(std::int32_t(pktReadBits(reader, field.oldBits)));
                pktWriteBits(writer, std::min(type, MAX_ENTITY_TYPE), field.newBits);
                break;
            }
            case FIELD_EVENT:
                pktWriteBits(writer, remapEvent(std::int32_t(pktReadBits(reader, field.oldBits))), field.newBits);
                break;
            case FIELD_NEW_ONLY:
                break;
        }
    }
}

/// Takes back everything written after the given position. Later writes OR into the
/// partly filled byte, so its bits above the position must be zero again.
void rewindWriter(PacketWriter& writer, std::int32_t count, std::uint8_t bitOffset) {
    writer.count = count;
    writer.bitOffset = bitOffset;
    if (bitOffset != 0) writer.data[std::size_t(count) - 1] &= std::uint8_t(lowBits(bitOffset));
}

/// Copies one delta. The `leadBits` bits of `lead`, already read by the caller, are
/// written together with the delta's flags and selector: one write instead of four
/// on the path every entity takes.
void copyDelta(PacketReader& reader, PacketWriter& writer, std::uint32_t lead, int leadBits) {
    if (pktReadBit(reader)) {
        pktWriteBits(writer, std::int32_t(lead | 1u << leadBits), leadBits + 1);
        return;
    }
    if (!pktReadBit(reader)) {
        pktWriteBits(writer, std::int32_t(lead), leadBits + 2);
        return;
    }
    const std::uint32_t selector = pktReadBits(reader, MASK_SELECTOR_BITS);
    // Removal bit 0, change bit 1, then the selector.
    const std::uint32_t head = 2u | selector << 2;
    pktWriteBits(writer, std::int32_t(lead | head << leadBits), leadBits + 2 + MASK_SELECTOR_BITS);
    const std::uint64_t mask = selector == EXPLICIT_MASK_SELECTOR ? copyExplicitMask(reader, writer)
                                                                   : ENTITY_PRESET_MASKS[selector];
    copyFields(reader, writer, mask);
}

}  // namespace

void transcodeEntityDelta(PacketReader& reader, PacketWriter& writer) { copyDelta(reader, writer, 0, 0); }

void transcodeEntityList(PacketReader& reader, PacketWriter& writer) {
    for (;;) {
        const std::int32_t entryCount = writer.count;
        const std::uint8_t entryBitOffset = writer.bitOffset;
        const std::uint32_t entityNumber = pktReadBits(reader, ENTITY_NUMBER_BITS);
        if (entityNumber == ENTITY_LIST_END) {
            pktWriteBits(writer, std::int32_t(entityNumber), ENTITY_NUMBER_BITS);
            return;
        }
        copyDelta(reader, writer, entityNumber, ENTITY_NUMBER_BITS);
        // Past the payload every bit reads as zero, which would repeat entity 0 for ever.
        // An entry cut by the end is not data: leave it out and let the caller see the flag.
        if (reader.pastEnd) {
            rewindWriter(writer, entryCount, entryBitOffset);
            return;
        }
    }
}

}  // namespace tarnic
