#include "transcode/masked_array.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "bits/packet_copy.h"
#include "transcode/padded_windows.h"

namespace tarnic {

namespace {

/// The values of masked array 2 go out three to a write.
constexpr std::size_t VALUES_PER_WORD = 3;
constexpr std::size_t VALUE_WORDS = (16 + VALUES_PER_WORD - 1) / VALUES_PER_WORD;

/// The values a 16-bit mask names, by adding neighbouring counts: std::popcount is a
/// library call where the target may lack the instruction, and every snapshot counts
/// three masks or four.
constexpr unsigned countValues(std::uint32_t mask) {
    mask -= (mask >> 1) & 0x5555u;
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}
static_assert(countValues(0) == 0 && countValues(0xFFFF) == 16 && countValues(0x8101) == 3);

/// Where the masked array at `position` ends, whose first 17 bits are `head`: its
/// presence bit and, behind a 1, the mask and the values it names. Whether it is
/// present is random data: a mask in place of a branch.
std::uint64_t maskedArrayEnd(std::uint64_t position, std::uint32_t head, int valueBits) {
    const std::uint32_t present = head & 1;
    const std::uint32_t mask = (head >> 1) & (0u - present);
    return position + 1 + 16 * present + std::uint64_t{countValues(mask)} * unsigned(valueBits);
}

/// The first 17 bits of the masked array at `position`; zeros past the end.
std::uint32_t maskedArrayHead(PacketView payload, std::uint64_t position) {
    return pktPeekAt(payload, position, 17);
}

/// Writes the first `bits` bits of `words`, the first in the lowest bit of the first
/// word, all of whose bits behind them are 0: every word goes out whole, the zeros
/// landing where the writer's next bits will.
void writeZeroPaddedRun(PacketWriter& writer, const std::array<std::uint64_t, 4>& words, unsigned bits) {
    constexpr std::size_t runBytes = sizeof words + 8;
    std::uint64_t position = writer.bitPos;
    if (writer.data.size() < (position >> 3) + runBytes + WRITER_WINDOW_BYTES) {
        pktReserve(writer, runBytes);
        position = writer.bitPos;
    }
    std::uint8_t* at = writer.data.data() + (position >> 3);
    const unsigned shift = unsigned(position & 7);
    std::uint64_t carry = at[0];
    for (const std::uint64_t word : words) {
        storeLittle64(at, carry | word << shift);
        carry = word >> 1 >> (63 - shift);
        at += 8;
    }
    storeLittle64(at, carry);
    writer.bitPos = position + bits;
}

/// Bits masked array 2 spans at its widest.
constexpr std::uint64_t WIDEST_VALUES_ARRAY_BITS = 17 + 16 * 16;

/// Moves the reader to bit `position` as reading up to it would: past the payload's
/// end it sets `pastEnd` and stays there.
void moveAsReadsWould(PacketReader& reader, std::uint64_t position) {
    if (position > std::uint64_t{reader.size} * 8) reader.pastEnd = true;
    reader.bytePos = std::uint32_t(position >> 3);
    reader.bitOffset = std::uint8_t(position & 7);
}

/// Reads masked array 2 at the read position into `received` and moves the reader past
/// it. Where the payload ends before its values, nothing is stored: false.
bool readValues(PacketReader& reader, std::array<std::int32_t, 16>& received) {
    const std::uint64_t start = pktReadPosition(reader);
    const PaddedWindows<WIDEST_VALUES_ARRAY_BITS> windows(pktView(reader), start);
    const auto head = std::uint32_t(windows.at(start) & 0x1FFFF);
    const std::uint64_t end = maskedArrayEnd(start, head, 16);
    moveAsReadsWould(reader, end);
    // An absent array, past the end or not, leaves the values alone; a present one may
    // be cut short. Whether it is present is one branch, where the values take many
    // steps whose work an absent array would waste.
    if (!(head & 1)) return true;
    if (reader.pastEnd) return false;
    // Which entries the mask names is random data: every entry takes the same steps,
    // and an entry not named keeps its value: a choice between two values loaded
    // first, which compiles to a conditional move where a choice of whether to store
    // would become a branch. The values lie in a row, three to a window.
    std::array<std::uint32_t, VALUE_WORDS * VALUES_PER_WORD> values;
    for (std::size_t word = 0; word < VALUE_WORDS; ++word) {
        const std::uint64_t window = windows.at(start + 17 + 16 * VALUES_PER_WORD * word);
        for (std::size_t value = 0; value < VALUES_PER_WORD; ++value) {
            values[word * VALUES_PER_WORD + value] = std::uint32_t(window >> (16 * value)) & 0xFFFF;
        }
    }
    const std::uint32_t mask = head >> 1;
    unsigned next = 0;
    for (unsigned entry = 0; entry < 16; ++entry) {
        const std::uint32_t named = (mask >> entry) & 1;
        const std::uint32_t kept = std::uint32_t(received[entry]);
        const std::uint32_t value = values[next];
        received[entry] = std::int32_t(named != 0 ? value : kept);
        next += named;
    }
    return true;
}

}  // namespace

void copyMaskedArray(PacketReader& reader, PacketWriter& writer, int valueBits) {
    // Nothing in it changes: one copy of the whole array, or of its absent bit.
    const std::uint64_t start = pktReadPosition(reader);
    pktCopyUpTo(reader, writer, maskedArrayEnd(start, maskedArrayHead(pktView(reader), start), valueBits));
}

void copyMaskedArrays(PacketReader& reader, PacketWriter& writer, int firstValueBits, int secondValueBits) {
    const PacketView payload = pktView(reader);
    const std::uint64_t first = pktReadPosition(reader);
    const std::uint64_t second = maskedArrayEnd(first, maskedArrayHead(payload, first), firstValueBits);
    pktCopyUpTo(reader, writer, maskedArrayEnd(second, maskedArrayHead(payload, second), secondValueBits));
}

void skipMaskedArray(PacketReader& reader, int valueBits) {
    const std::uint64_t start = pktReadPosition(reader);
    pktSkipTo(reader, maskedArrayEnd(start, maskedArrayHead(pktView(reader), start), valueBits));
}

std::optional<std::uint32_t> receiveMaskedArrayChanges(PacketReader& reader, SnapshotState& state) {
    if (!readValues(reader, state.receivedValues)) return std::nullopt;
    // Which entries changed is random data too: a mask built without branches.
    std::uint32_t changeMask = 0;
    for (std::size_t entry = 0; entry < 16; ++entry) {
        const std::int8_t source = REMAPPED_ENTRY_SOURCES[entry];
        const std::int32_t value = source == ALWAYS_ZERO ? 0 : state.receivedValues[std::size_t(source)];
        state.remappedValues[entry] = value;
        changeMask |= std::uint32_t(value != state.sentValues[entry]) << entry;
        state.sentValues[entry] = value;
    }
    return changeMask;
}

void forecastReceivedValues(PacketReader& reader, std::array<std::int32_t, 16>& received) {
    readValues(reader, received);
}

void remapReceivedValues(SnapshotState& state) {
    for (std::size_t entry = 0; entry < 16; ++entry) {
        const std::int8_t source = REMAPPED_ENTRY_SOURCES[entry];
        state.remappedValues[entry] = source == ALWAYS_ZERO ? 0 : state.receivedValues[std::size_t(source)];
    }
    state.sentValues = state.remappedValues;
}

void sendMaskedArrayChanges(PacketReader& reader, PacketWriter& writer, SnapshotState& state) {
    const std::optional<std::uint32_t> changes = receiveMaskedArrayChanges(reader, state);
    if (!changes) return;
    const std::uint32_t changeMask = *changes;
    if (changeMask == 0) {
        pktWriteWord(writer, 0, 1);
        return;
    }
    // The changed values gathered in order, zeros behind them; how many changed is
    // random data, so every entry takes the same steps.
    std::array<std::uint16_t, 16> changed{};
    unsigned count = 0;
    for (std::size_t entry = 0; entry < 16; ++entry) {
        const std::uint32_t differs = (changeMask >> entry) & 1;
        changed[count] = std::uint16_t(std::uint32_t(state.remappedValues[entry]) & (0u - differs));
        count += differs;
    }
    // A 1 and the mask, then the values.
    pktWriteWord(writer, std::uint64_t{changeMask} << 1 | 1, 17);
    std::array<std::uint64_t, 4> words;
    std::memcpy(words.data(), changed.data(), sizeof words);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t& word : words) word = loadLittle64(reinterpret_cast<const std::uint8_t*>(&word));
    }
    writeZeroPaddedRun(writer, words, 16 * count);
}

}  // namespace tarnic
