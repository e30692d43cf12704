#include "transcode/player_state.h"

#include <array>
#include <utility>

#include "bits/packet_copy.h"
#include "transcode/field_scan.h"
#include "transcode/masked_array.h"
#include "transcode/remap.h"

namespace tarnic {

namespace {

static_assert([] {
    for (std::size_t field = 0; field < NEW_PLAYER_STATE_FIELD_COUNT; ++field) {
        const bool newOnly = PLAYER_STATE_FIELDS[field].form == FieldForm::NewOnly;
        if (newOnly != (field >= OLD_PLAYER_STATE_FIELD_COUNT)) return false;
    }
    return true;
}(), "the fields only the new protocol has come last");

// Most present fields travel unchanged, presence bit and all. As in entity lists, a
// scan runs ahead of the reader over them and the unchanged bits are copied in one go
// before the next field that changes; `scan` is the bit position the scan has reached.
constexpr auto FIELD_SCANS = scanTable<OLD_PLAYER_STATE_FIELD_COUNT>(PLAYER_STATE_FIELDS);

static_assert([] {
    for (std::size_t field = 0; field < OLD_PLAYER_STATE_FIELD_COUNT; ++field) {
        const FieldForm form = PLAYER_STATE_FIELDS[field].form;
        if (FIELD_SCANS[field].converts && form != FieldForm::Plain && form != FieldForm::Event) return false;
    }
    return true;
}(), "only plain values and events change on the way");

/// Copies up to the present field at `scan`, then converts it behind its presence bit;
/// returns where it ends.
std::uint64_t convertPresentField(PacketReader& reader, PacketWriter& writer, std::uint64_t scan,
                                  const FieldRow& row) {
    // The presence bit, 1, then the value: read ahead, written behind the copy.
    std::uint32_t value = pktPeekAt(pktView(reader), scan + 1, row.oldWidth);
    if (row.form == FieldForm::Event) value = std::uint32_t(remapEvent(std::int32_t(value)));
    pktCopyUpToThenReplace(reader, writer, scan, 1u + row.oldWidth, std::uint64_t{value} << 1 | 1,
                           unsigned(row.newWidth) + 1);
    return scan + 1 + row.oldWidth;
}

/// Bits the old fields span at their widest.
constexpr std::uint64_t WIDEST_FIELDS_BITS = [] {
    std::uint64_t bits = 0;
    for (const FieldScan& scan : FIELD_SCANS) bits += 1 + scan.bits + scan.flagBits;
    return bits;
}();

/// True where the fields starting at `scan` end, however wide, a window before the
/// payload does: the scan over them then peeks without checking for the end.
bool fieldsFarFromEnd(PacketView payload, std::uint64_t scan) {
    return pktWindowFits((scan + WIDEST_FIELDS_BITS) >> 3, payload.size);
}

/// The `bits`-bit field at bit `position`; `FarFromEnd` where its window is known to
/// lie inside the payload.
template <bool FarFromEnd>
std::uint32_t peek(PacketView payload, std::uint64_t position, unsigned bits) {
    if constexpr (FarFromEnd) {
        return std::uint32_t((loadLittle64(payload.data + (position >> 3)) >> (position & 7)) & lowBits(bits));
    } else {
        return pktPeekAt(payload, position, int(bits));
    }
}

/// Where the field at `scan` ends: its presence bit, and behind a 1 its value.
template <bool FarFromEnd>
std::uint64_t fieldEnd(PacketView payload, std::uint64_t scan, std::size_t field) {
    // The presence bit, then a packed value's flag. Both are random data: masks
    // instead of branches.
    const std::uint32_t head = peek<FarFromEnd>(payload, scan, 2);
    const std::uint32_t present = head & 1;
    const FieldScan& step = FIELD_SCANS[field];
    const std::uint32_t flagBits = (0u - (head >> 1)) & step.flagBits;
    return scan + 1 + ((0u - present) & (step.bits + flagBits));
}

/// One field's step of the scan: the field's widths and whether it converts are
/// constants here, so that the scan over all fields is one straight run of code.
template <std::size_t Field, bool FarFromEnd>
std::uint64_t scanField(PacketReader& reader, PacketWriter& writer, PacketView payload, std::uint64_t scan) {
    if constexpr (FIELD_SCANS[Field].converts) {
        if (peek<FarFromEnd>(payload, scan, 1) & 1) {
            return convertPresentField(reader, writer, scan, PLAYER_STATE_FIELDS[Field]);
        }
    }
    return fieldEnd<FarFromEnd>(payload, scan, Field);
}

template <bool FarFromEnd, std::size_t... Fields>
std::uint64_t scanFields(PacketReader& reader, PacketWriter& writer, PacketView payload, std::uint64_t scan,
                         std::index_sequence<Fields...>) {
    ((scan = scanField<Fields, FarFromEnd>(reader, writer, payload, scan)), ...);
    return scan;
}

/// Where the fields end, read as a forecast reads them: nothing converted.
template <bool FarFromEnd, std::size_t... Fields>
std::uint64_t skipFields(PacketView payload, std::uint64_t scan, std::index_sequence<Fields...>) {
    ((scan = fieldEnd<FarFromEnd>(payload, scan, Fields)), ...);
    return scan;
}

/// Bits written in a row, the first in the lowest bit.
struct BitRun {
    std::uint64_t bits = 0;
    unsigned count = 0;
};

/// The fields only the new protocol has, each present with value 0: a presence bit
/// of 1, then zeros.
constexpr BitRun NEW_ONLY_FIELDS = [] {
    BitRun fields;
    for (std::size_t field = OLD_PLAYER_STATE_FIELD_COUNT; field < NEW_PLAYER_STATE_FIELD_COUNT; ++field) {
        fields.bits |= std::uint64_t{1} << fields.count;
        fields.count += 1 + PLAYER_STATE_FIELDS[field].newWidth;
    }
    return fields;
}();
static_assert(NEW_ONLY_FIELDS.count <= COPY_CHUNK_BITS, "written behind the copy in one go");

void transcodeFields(PacketReader& reader, PacketWriter& writer, std::uint64_t start) {
    constexpr auto fields = std::make_index_sequence<OLD_PLAYER_STATE_FIELD_COUNT>();
    const PacketView payload = pktView(reader);
    const std::uint64_t scan = fieldsFarFromEnd(payload, start)
                                   ? scanFields<true>(reader, writer, payload, start, fields)
                                   : scanFields<false>(reader, writer, payload, start, fields);
    pktCopyUpToThenReplace(reader, writer, scan, 0, NEW_ONLY_FIELDS.bits, NEW_ONLY_FIELDS.count);
}

}  // namespace

void transcodePlayerState(PacketReader& reader, PacketWriter& writer, SnapshotState& state, std::uint64_t start) {
    transcodeFields(reader, writer, start);
    copyMaskedArray(reader, writer, 16);
    if (reader.pastEnd) return;
    sendMaskedArrayChanges(reader, writer, state);
    if (reader.pastEnd) return;
    copyMaskedArray(reader, writer, 16);
    copyMaskedArray(reader, writer, 32);
}

void forecastPlayerState(PacketReader& reader, SnapshotState& state) {
    constexpr auto fields = std::make_index_sequence<OLD_PLAYER_STATE_FIELD_COUNT>();
    const PacketView payload = pktView(reader);
    const std::uint64_t start = pktReadPosition(reader);
    const std::uint64_t scan = fieldsFarFromEnd(payload, start) ? skipFields<true>(payload, start, fields)
                                                                : skipFields<false>(payload, start, fields);
    pktSkipTo(reader, scan);
    skipMaskedArray(reader, 16);
    forecastReceivedValues(reader, state.receivedValues);
}

}  // namespace tarnic
