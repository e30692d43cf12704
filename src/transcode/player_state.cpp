#include "transcode/player_state.h"

#include <array>
#include <utility>

#include "bits/packet_copy.h"
#include "transcode/field_scan.h"
#include "transcode/masked_array.h"
#include "transcode/padded_windows.h"
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

/// Bits the old fields span at their widest.
constexpr std::uint64_t WIDEST_FIELDS_BITS = [] {
    std::uint64_t bits = 0;
    for (const FieldScan& scan : FIELD_SCANS) bits += 1 + scan.bits + scan.flagBits;
    return bits;
}();

/// New event values of the 8-bit old ones: a table lookup in place of the renumbering's
/// test for values it leaves alone, which goes either way on random values.
const std::array<std::uint16_t, 256> EVENT_BYTES = [] {
    std::array<std::uint16_t, 256> events{};
    for (std::size_t value = 0; value < events.size(); ++value) {
        events[value] = std::uint16_t(remapEvent(std::int32_t(value)));
    }
    return events;
}();

static_assert([] {
    for (std::size_t field = 0; field < OLD_PLAYER_STATE_FIELD_COUNT; ++field) {
        const FieldRow& row = PLAYER_STATE_FIELDS[field];
        if (row.form == FieldForm::Event && row.oldWidth != 8) return false;
    }
    return true;
}(), "the event table covers every old event value");

/// Bits a field's step looks at: the presence bit and a packed value's flag, or the
/// whole of a field that converts.
constexpr unsigned headBits(std::size_t field) {
    return FIELD_SCANS[field].converts ? 1u + PLAYER_STATE_FIELDS[field].oldWidth : 2u;
}

/// Bits from the start of field `first` to the end of the head of field `last`, at
/// the widest.
constexpr unsigned spanBits(std::size_t first, std::size_t last) {
    unsigned bits = headBits(last);
    for (std::size_t field = first; field < last; ++field) {
        bits += 1u + FIELD_SCANS[field].bits + FIELD_SCANS[field].flagBits;
    }
    return bits;
}

/// For each field, the field whose window, loaded where that field starts, holds this
/// field's head however wide the fields between them are. A step then shifts a window
/// loaded a field or more before instead of loading its own at the position the step
/// before computed, so that the load is no link of the chain from one field's end to
/// the next; and a window serves as many fields as it holds, so that few are loaded.
constexpr auto WINDOW_FIELDS = [] {
    std::array<std::size_t, OLD_PLAYER_STATE_FIELD_COUNT> from{};
    std::size_t window = 0;
    for (std::size_t field = 0; field < from.size(); ++field) {
        if (spanBits(window, field) > PADDED_WINDOW_BITS) {
            // The earliest field whose window holds this field's head.
            window = field;
            while (window > 0 && spanBits(window - 1, field) <= PADDED_WINDOW_BITS) --window;
        }
        from[field] = window;
    }
    return from;
}();

/// True where a window is loaded at the start of `field`.
constexpr bool loadsWindow(std::size_t field) {
    for (const std::size_t from : WINDOW_FIELDS) {
        if (from == field) return true;
    }
    return false;
}

using FieldWindows = PaddedWindows<WIDEST_FIELDS_BITS>;

/// Where each field starts, counted from the windows' origin, and the windows loaded
/// there: each the word holding the field's first bit, unshifted.
struct FieldScanState {
    std::array<std::uint64_t, OLD_PLAYER_STATE_FIELD_COUNT + 1> at;
    std::array<std::uint64_t, OLD_PLAYER_STATE_FIELD_COUNT> window;
};

/// Copies up to the present field at `scan`, whose presence bit and value are the low
/// bits of `head`, then writes it converted in its place; returns where it ends.
std::uint64_t convertPresentField(PacketReader& reader, PacketWriter& writer, std::uint64_t scan, std::uint64_t head,
                                  const FieldRow& row) {
    std::uint32_t value = std::uint32_t(head >> 1) & std::uint32_t(lowBits(row.oldWidth));
    if (row.form == FieldForm::Event) value = EVENT_BYTES[value];
    pktCopyUpToThenReplace(reader, writer, scan, 1u + row.oldWidth, std::uint64_t{value} << 1 | 1,
                           1u + row.newWidth);
    return scan + 1 + row.oldWidth;
}

/// One field's step of the scan: its widths, whether it converts and the window it
/// reads are constants here, so that the scan over all fields is one straight run of
/// code. Unless `Converts`, nothing is converted: the forecast's scan, which needs no
/// reader or writer.
template <std::size_t Field, bool Converts>
void scanField(PacketReader* reader, PacketWriter* writer, const FieldWindows& windows, FieldScanState& scan) {
    const std::uint64_t at = scan.at[Field];
    if constexpr (loadsWindow(Field)) scan.window[Field] = windows.word(at);
    constexpr std::size_t from = WINDOW_FIELDS[Field];
    const std::uint64_t head = scan.window[from] >> (at - (scan.at[from] & ~std::uint64_t{7}));
    if constexpr (FIELD_SCANS[Field].converts) {
        if constexpr (Converts) {
            if (head & 1) {
                const std::uint64_t end =
                    convertPresentField(*reader, *writer, windows.origin() + at, head, PLAYER_STATE_FIELDS[Field]);
                scan.at[Field + 1] = end - windows.origin();
                return;
            }
        }
    }
    // The presence bit, then a packed value's flag. Both are random data: the field's
    // length by a lookup in place of branches, its four cases one byte each of a constant.
    constexpr FieldScan step = FIELD_SCANS[Field];
    if constexpr (step.flagBits != 0) {
        constexpr std::uint32_t absent = 1;
        constexpr std::uint32_t narrow = 1u + step.bits;
        constexpr std::uint32_t wide = narrow + step.flagBits;
        constexpr std::uint32_t lengths = absent | narrow << 8 | absent << 16 | wide << 24;
        static_assert(wide < 256);
        scan.at[Field + 1] = at + ((lengths >> (8 * (head & 3))) & 0xFF);
    } else {
        scan.at[Field + 1] = at + 1 + ((0u - std::uint32_t(head & 1)) & step.bits);
    }
}

/// Scans the old fields from bit `start` on; returns where they end.
template <bool Converts, std::size_t... Fields>
std::uint64_t scanFields(PacketReader* reader, PacketWriter* writer, PacketView payload, std::uint64_t start,
                         std::index_sequence<Fields...>) {
    const FieldWindows windows(payload, start);
    FieldScanState scan;
    scan.at[0] = start - windows.origin();
    (scanField<Fields, Converts>(reader, writer, windows, scan), ...);
    return windows.origin() + scan.at.back();
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
    const std::uint64_t scan = scanFields<true>(&reader, &writer, pktView(reader), start,
                                          std::make_index_sequence<OLD_PLAYER_STATE_FIELD_COUNT>());
    pktCopyUpToThenReplace(reader, writer, scan, 0, NEW_ONLY_FIELDS.bits, NEW_ONLY_FIELDS.count);
}

}  // namespace

void transcodePlayerState(PacketReader& reader, PacketWriter& writer, SnapshotState& state, std::uint64_t start) {
    transcodeFields(reader, writer, start);
    copyMaskedArray(reader, writer, 16);
    if (reader.pastEnd) return;
    sendMaskedArrayChanges(reader, writer, state);
    if (reader.pastEnd) return;
    copyMaskedArrays(reader, writer, 16, 32);
}

void forecastPlayerState(PacketReader& reader, SnapshotState& state) {
    const std::uint64_t scan = scanFields<false>(nullptr, nullptr, pktView(reader), pktReadPosition(reader),
                                          std::make_index_sequence<OLD_PLAYER_STATE_FIELD_COUNT>());
    pktSkipTo(reader, scan);
    skipMaskedArray(reader, 16);
    forecastReceivedValues(reader, state.receivedValues);
}

}  // namespace tarnic
