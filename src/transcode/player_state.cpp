#include "transcode/player_state.h"

#include <algorithm>
#include <bit>

#include "transcode/masked_array.h"
#include "transcode/remap.h"

namespace tarnic {

namespace {

constexpr std::size_t countFields(bool (*counts)(const PlayerStateFieldRow&)) {
    std::size_t fields = 0;
    for (const PlayerStateFieldRow& row : PLAYER_STATE_FIELDS) fields += counts(row) ? row.count : 0;
    return fields;
}

constexpr std::size_t kFieldCount = countFields([](const PlayerStateFieldRow&) { return true; });
constexpr std::size_t kOldFieldCount =
    countFields([](const PlayerStateFieldRow& row) { return row.form != FieldForm::NewOnly; });
static_assert(kFieldCount == 48 && kOldFieldCount == 45);

/// The table with one row per field, so runs of absent fields can be skipped by index.
constexpr auto kFields = [] {
    std::array<PlayerStateFieldRow, kFieldCount> fields{};
    std::size_t at = 0;
    for (const PlayerStateFieldRow& row : PLAYER_STATE_FIELDS) {
        for (int i = 0; i < row.count; ++i) fields[at++] = row;
    }
    return fields;
}();

static_assert([] {
    for (std::size_t field = 0; field < kFieldCount; ++field) {
        if ((kFields[field].form == FieldForm::NewOnly) != (field >= kOldFieldCount)) return false;
    }
    return true;
}(), "the fields only the new protocol has come last");

/// Copies a present packed value behind its presence bit: a flag, then 32 bits if it is 1, else 13.
void copyPresentPackedValue(PacketReader& reader, PacketWriter& writer) {
    if (pktReadBit(reader) == 0) {
        // presence 1, flag 0, 13 bits
        pktWriteBits(writer, std::int32_t(pktReadBits(reader, 13) << 2 | 1), 15);
        return;
    }
    pktWriteBits(writer, 3, 2);
    pktWriteBits(writer, std::int32_t(pktReadBits(reader, 32)), 32);
}

/// Converts a present optional field behind its presence bit.
void transcodePresentField(PacketReader& reader, PacketWriter& writer, const PlayerStateFieldRow& row) {
    std::uint32_t value = pktReadBits(reader, row.oldWidth);
    if (row.treatment == FieldTreatment::RemapEvent) value = std::uint32_t(remapEvent(std::int32_t(value)));
    if (row.newWidth < 32) {
        // The presence bit and the value in one field; the writer keeps the low bits only.
        pktWriteBits(writer, std::int32_t(value << 1 | 1), row.newWidth + 1);
        return;
    }
    pktWriteBits(writer, 1, 1);
    pktWriteBits(writer, std::int32_t(value), row.newWidth);
}

void transcodeFields(PacketReader& reader, PacketWriter& writer) {
    std::size_t field = 0;
    while (field < kOldFieldCount) {
        // Most fields are absent, each a single 0 bit: pass a whole run of them at once.
        const std::size_t absent =
            std::min<std::size_t>(std::countr_zero(pktPeekBits32(reader)), kOldFieldCount - field);
        if (absent > 0) {
            pktReadBits(reader, int(absent));
            pktWriteBits(writer, 0, int(absent));
            field += absent;
            continue;
        }
        pktReadBit(reader);  // the presence bit, 1
        const PlayerStateFieldRow& row = kFields[field++];
        if (row.form == FieldForm::OptionalPacked) {
            copyPresentPackedValue(reader, writer);
        } else {
            transcodePresentField(reader, writer, row);
        }
    }
    // Fields only the new protocol has: present, value 0.
    for (; field < kFieldCount; ++field) pktWriteBits(writer, 1, kFields[field].newWidth + 1);
}

}  // namespace

void transcodePlayerState(PacketReader& reader, PacketWriter& writer, SnapshotState& state) {
    transcodeFields(reader, writer);
    copyMaskedArray(reader, writer, 16);
    if (reader.pastEnd) return;
    sendMaskedArrayChanges(reader, writer, state);
    if (reader.pastEnd) return;
    copyMaskedArray(reader, writer, 16);
    copyMaskedArray(reader, writer, 32);
}

}  // namespace tarnic
