#include "transcode/player_state.h"

#include <array>

#include "bits/packet_copy.h"
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

/// The table with one row per field, for looking a field up by its index.
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

// Most present fields travel unchanged, presence bit and all. As in entity lists, a
// scan runs ahead of the reader over them and the unchanged bits are copied in one go
// before the next field that changes; `scan` is the bit position the scan has reached.

/// How the scan passes an old field, drawn from the field table.
struct FieldScan {
    std::uint8_t bits;      ///< bits a present value always spans: a packed value's flag and 13
    std::uint8_t flagBits;  ///< more bits when the value's first bit is 1: a wide packed value's
    bool converts;          ///< a present value changes on the way, so it is read and written anew
};

constexpr auto kFieldScans = [] {
    std::array<FieldScan, kOldFieldCount> scans{};
    for (std::size_t field = 0; field < kOldFieldCount; ++field) {
        const PlayerStateFieldRow& row = kFields[field];
        if (row.form == FieldForm::OptionalPacked) {
            scans[field] = {1 + 13, 32 - 13, false};
        } else {
            scans[field] = {row.oldWidth, 0,
                            row.treatment != FieldTreatment::Copied || row.oldWidth != row.newWidth};
        }
    }
    return scans;
}();

static_assert([] {
    for (std::size_t field = 0; field < kOldFieldCount; ++field) {
        if (kFieldScans[field].converts && kFields[field].form != FieldForm::Optional) return false;
    }
    return true;
}(), "only plain values change on the way");

/// Copies up to the present field at `scan`, then converts it behind its presence bit;
/// returns where it ends.
std::uint64_t convertPresentField(PacketReader& reader, PacketWriter& writer, std::uint64_t scan,
                                  const PlayerStateFieldRow& row) {
    pktCopyUpTo(reader, writer, scan);
    pktReadBit(reader);  // the presence bit, 1
    std::uint32_t value = pktReadBits(reader, row.oldWidth);
    if (row.treatment == FieldTreatment::RemapEvent) value = std::uint32_t(remapEvent(std::int32_t(value)));
    if (row.newWidth < 32) {
        // The presence bit and the value in one field; the writer keeps the low bits only.
        pktWriteBits(writer, std::int32_t(value << 1 | 1), row.newWidth + 1);
    } else {
        pktWriteBits(writer, 1, 1);
        pktWriteBits(writer, std::int32_t(value), row.newWidth);
    }
    return scan + 1 + row.oldWidth;
}

void transcodeFields(PacketReader& reader, PacketWriter& writer) {
    const PacketView payload = pktView(reader);
    std::uint64_t scan = pktReadPosition(reader);
    for (std::size_t field = 0; field < kOldFieldCount; ++field) {
        // The presence bit, then a packed value's flag. Both are random data: masks
        // instead of branches.
        const std::uint32_t head = pktPeekAt(payload, scan, 2);
        const std::uint32_t present = head & 1;
        const FieldScan& step = kFieldScans[field];
        if (step.converts && present) {
            scan = convertPresentField(reader, writer, scan, kFields[field]);
            continue;
        }
        const std::uint32_t flagBits = (0u - (head >> 1)) & step.flagBits;
        scan += 1 + ((0u - present) & (step.bits + flagBits));
    }
    pktCopyUpTo(reader, writer, scan);
    // Fields only the new protocol has: present, value 0.
    for (std::size_t field = kOldFieldCount; field < kFieldCount; ++field) {
        pktWriteBits(writer, 1, kFields[field].newWidth + 1);
    }
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
