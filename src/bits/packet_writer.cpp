#include "bits/packet_writer.h"

#include <algorithm>
#include <cstring>

#include "tarnic/console.h"

namespace tarnic {

void pktReserve(PacketWriter& writer, std::size_t bytes) {
    // The buffer never grows past MAX_MESSAGE_BYTES + 1: every write finds its window
    // inside it, so no message it holds is longer than MAX_MESSAGE_BYTES.
    constexpr std::size_t LARGEST = MAX_MESSAGE_BYTES + 1;
    std::size_t needed = std::size_t(writer.bitPos >> 3) + bytes;
    if (needed + WRITER_WINDOW_BYTES > LARGEST) {
        // The message is lost either way; start over so that the position stays in range.
        writer.overflowed = true;
        writer.bitPos = 0;
        needed = bytes;
    }
    if (writer.data.size() < needed + WRITER_WINDOW_BYTES) {
        const std::size_t grown = std::min(std::max(writer.data.size() * 2, needed + WRITER_WINDOW_BYTES + 256), LARGEST);
        writer.data.resize(std::max(grown, needed + WRITER_WINDOW_BYTES));
    }
    if (writer.bitPos == 0) writer.data[0] = 0;
}

void pktWriteData(PacketWriter& writer, const void* bytes, std::size_t length) {
    if (length == 0) return;
    const bool aligned = (writer.bitPos & 7) == 0;
    const std::size_t room = length + (aligned ? 0 : 1);
    if (writer.data.size() < std::size_t(writer.bitPos >> 3) + room + WRITER_WINDOW_BYTES) pktReserve(writer, room);
    // Behind the partly filled byte, if there is one.
    const std::size_t at = std::size_t(writer.bitPos >> 3) + (aligned ? 0 : 1);
    std::memcpy(writer.data.data() + at, bytes, length);
    writer.bitPos += 8 * std::uint64_t{length};
    // On a byte boundary the next write ORs into the byte behind the data.
    if (aligned) writer.data[at + length] = 0;
}

void pktRewindWriter(PacketWriter& writer, std::uint64_t bits) {
    writer.bitPos = bits;
    if (writer.data.empty()) return;  // nothing was written
    // Later writes OR into the byte the position lies in: its bits above the position go.
    std::uint8_t& last = writer.data[std::size_t(bits >> 3)];
    last &= std::uint8_t(lowBits(unsigned(bits & 7)));
}

void pktWriteString(PacketWriter& writer, std::string_view text, Console& console) {
    if (text.size() >= MAX_STRING_CHARS) {
        console.print("pktWriteString: MAX_STRING_CHARS\n");
        text = {};
    }
    if ((writer.bitPos & 7) == 0) {
        // Where the buffer has room, the text and its NUL in one step, and the zero
        // byte behind them that the next write ORs into.
        const std::size_t at = std::size_t(writer.bitPos >> 3);
        if (writer.data.size() >= at + text.size() + 1 + WRITER_WINDOW_BYTES) {
            if (!text.empty()) std::memcpy(writer.data.data() + at, text.data(), text.size());
            writer.data[at + text.size()] = 0;
            writer.data[at + text.size() + 1] = 0;
            writer.bitPos += 8 * (std::uint64_t{text.size()} + 1);
            return;
        }
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
