#include "bits/packet_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "common/console.h"

namespace tarnic {

namespace {

// The output record stores the payload length plus 4 in a signed 32-bit field.
constexpr std::size_t kMaxMessageBytes = std::numeric_limits<std::int32_t>::max() - 16;
constexpr std::size_t kWindowBytes = 8;

}  // namespace

void pktReserve(PacketWriter& writer, std::size_t bytes) {
    const std::size_t needed = std::size_t(writer.count) + bytes;
    if (needed > kMaxMessageBytes) throw std::length_error("converted message too large");
    if (writer.data.size() >= needed + kWindowBytes) return;
    const std::size_t grown = std::max(writer.data.size() * 2, needed + kWindowBytes + 256);
    writer.data.resize(std::min(grown, kMaxMessageBytes + kWindowBytes));
}

void pktWriteWideBits(PacketWriter& writer, std::int32_t value, unsigned bits) {
    pktWriteBits(writer, value, 32);
    for (unsigned rest = bits - 32; rest > 0;) {
        const unsigned chunk = std::min(rest, 32u);
        pktWriteBits(writer, 0, int(chunk));
        rest -= chunk;
    }
}

void pktWriteData(PacketWriter& writer, const void* bytes, std::size_t length) {
    if (length == 0) return;
    pktReserve(writer, length);
    std::memcpy(writer.data.data() + writer.count, bytes, length);
    writer.count += std::int32_t(length);
    // Off a byte boundary the next bits go into the last byte appended.
    if (writer.bitOffset) writer.partialByte = writer.data[std::size_t(writer.count) - 1];
}

void pktRewindWriter(PacketWriter& writer, std::uint64_t bits) {
    writer.bitOffset = std::uint8_t(bits & 7);
    writer.count = std::int32_t((bits + 7) >> 3);
    writer.partialByte = 0;
    if (writer.bitOffset != 0) {
        // Later writes OR into the partly filled byte: its bits above the position go.
        std::uint8_t& last = writer.data[std::size_t(writer.count) - 1];
        last &= std::uint8_t(lowBits(writer.bitOffset));
        writer.partialByte = last;
    }
}

void pktWriteString(PacketWriter& writer, std::string_view text, Console& console) {
    if (text.size() >= MAX_STRING_CHARS) {
        console.print("pktWriteString: MAX_STRING_CHARS\n");
        text = {};
    }
    if (writer.bitOffset == 0) {
        pktWriteData(writer, text.data(), text.size());
        const std::uint8_t nul = 0;
        pktWriteData(writer, &nul, 1);
        return;
    }
    // Raw bytes would land behind the partly filled byte; strings are read bit-wise,
    // so write each character, and the NUL, as an 8-bit field where the writer stands.
    for (const char c : text) pktWriteBits(writer, std::uint8_t(c), 8);
    pktWriteBits(writer, 0, 8);
}

}  // namespace tarnic
