#include "transcode/masked_array.h"

#include <bit>
#include <cstdint>

#include "bits/packet_copy.h"

namespace tarnic {

namespace {

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
/// presence bit and, behind a 1, the mask and the values it names.
std::uint64_t maskedArrayEnd(std::uint64_t position, std::uint32_t head, int valueBits) {
    if (!(head & 1)) return position + 1;
    return position + 17 + std::uint64_t{countValues(head >> 1)} * unsigned(valueBits);
}

/// The first 17 bits of the masked array at the read position; zeros past the end.
std::uint32_t maskedArrayHead(const PacketReader& reader) {
    return pktPeekAt(pktView(reader), pktReadPosition(reader), 17);
}

}  // namespace

void copyMaskedArray(PacketReader& reader, PacketWriter& writer, int valueBits) {
    const std::uint64_t start = pktReadPosition(reader);
    const std::uint32_t head = maskedArrayHead(reader);
    if (!(head & 1)) {
        pktSkipTo(reader, start + 1);
        pktWriteWord(writer, 0, 1);
        return;
    }
    // Nothing in it changes: one copy of the whole array.
    pktCopyUpTo(reader, writer, maskedArrayEnd(start, head, valueBits));
}

void skipMaskedArray(PacketReader& reader, int valueBits) {
    pktSkipTo(reader, maskedArrayEnd(pktReadPosition(reader), maskedArrayHead(reader), valueBits));
}

std::optional<std::uint32_t> receiveMaskedArrayChanges(PacketReader& reader, SnapshotState& state) {
    if (pktReadBit(reader) == 1) {
        const std::uint32_t mask = pktReadBits(reader, 16);
        std::array<std::int32_t, 16> received = state.receivedValues;
        for (std::uint32_t bits = mask; bits != 0; bits &= bits - 1) {
            received[std::countr_zero(bits)] = std::int32_t(pktReadBits(reader, 16));
        }
        // Zeros read past the payload are not values; keep what was really received.
        if (reader.pastEnd) return std::nullopt;
        state.receivedValues = received;
    }

    std::uint32_t changeMask = 0;
    for (std::size_t entry = 0; entry < 16; ++entry) {
        const std::int8_t source = REMAPPED_ENTRY_SOURCES[entry];
        const std::int32_t value = source == ALWAYS_ZERO ? 0 : state.receivedValues[std::size_t(source)];
        state.remappedValues[entry] = value;
        if (value != state.sentValues[entry]) {
            changeMask |= 1u << entry;
            state.sentValues[entry] = value;
        }
    }
    return changeMask;
}

void forecastReceivedValues(PacketReader& reader, std::array<std::int32_t, 16>& received) {
    if (pktReadBit(reader) == 0) return;
    const std::uint32_t mask = pktReadBits(reader, 16);
    const PacketView payload = pktView(reader);
    const std::uint64_t start = pktReadPosition(reader);
    const std::uint64_t end = start + 16 * std::uint64_t{countValues(mask)};
    if (pktWindowFits(end >> 3, payload.size)) {
        // Every value's window lies inside the payload: no read needs checking.
        std::uint64_t at = start;
        for (std::uint32_t bits = mask; bits != 0; bits &= bits - 1, at += 16) {
            const std::uint64_t window = loadLittle64(payload.data + (at >> 3));
            received[std::size_t(std::countr_zero(bits))] = std::int32_t((window >> (at & 7)) & 0xFFFF);
        }
        pktSkipTo(reader, end);
        return;
    }
    std::array<std::int32_t, 16> values = received;
    for (std::uint32_t bits = mask; bits != 0; bits &= bits - 1) {
        values[std::countr_zero(bits)] = std::int32_t(pktReadBits(reader, 16));
    }
    if (!reader.pastEnd) received = values;
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
        pktWriteBits(writer, 0, 1);
        return;
    }
    // The mask and the values it names, gathered into as few writes as they fill:
    // up to three 16-bit values share one.
    std::uint64_t pending = std::uint64_t{changeMask} << 1 | 1;
    unsigned pendingBits = 17;
    for (std::uint32_t bits = changeMask; bits != 0; bits &= bits - 1) {
        if (pendingBits > 40) {
            pktWriteWord(writer, pending, pendingBits);
            pending = 0;
            pendingBits = 0;
        }
        const auto value = std::uint16_t(state.remappedValues[std::size_t(std::countr_zero(bits))]);
        pending |= std::uint64_t{value} << pendingBits;
        pendingBits += 16;
    }
    pktWriteWord(writer, pending, pendingBits);
}

}  // namespace tarnic
