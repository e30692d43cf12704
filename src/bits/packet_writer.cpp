#include "bits/packet_writer.h"

#include <algorithm>
#include <cstring>

#include "tarnic/console.h"

namespace tarnic {

namespace {

/// Room kept behind the last byte, so that a write can store a whole 64-bit word.
constexpr std::size_t WINDOW_BYTES = 8;

}  // namespace

void pktReserve(PacketWriter& writer, std::size_t bytes) {
    std::size_t needed = std::size_t(writer.count) + bytes;
    if (needed > MAX_MESSAGE_BYTES) {
        // The message is lost either way; start over so that `count` stays in range.
        writer.overflowed = true;
        writer.count = 0;
        writer.bitOffset = 0;
        writer.partialByte = 0;
        needed = bytes;
    }
    if (writer.data.size() >= needed + WINDOW_BYTES) return;
    const std::size_t grown = std::min(writer.data.size() * 2, MAX_MESSAGE_BYTES + WINDOW_BYTES);
    writer.data.resize(std::max(grown, needed + WINDOW_BYTES + 256));
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
