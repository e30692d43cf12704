#include "bits/packet_reader.h"

#include <algorithm>
#include <cstring>

namespace tarnic {

std::uint64_t pktLoadNearEnd(const std::uint8_t* data, std::uint32_t size, std::uint64_t byte) {
    std::uint64_t window = 0;
    for (unsigned i = 0; i < 8 && byte + i < size; ++i) window |= std::uint64_t{data[byte + i]} << (8 * i);
    return window;
}

std::uint64_t pktLoadTail(PacketReader& reader, unsigned bits) {
    const std::uint64_t window = pktLoadNearEnd(reader.data, reader.size, reader.bytePos);
    const std::uint64_t endBit = std::uint64_t{reader.bytePos} * 8 + reader.bitOffset + bits;
    if (endBit > std::uint64_t{reader.size} * 8) reader.pastEnd = true;
    return window;
}

std::size_t pktReadString(PacketReader& reader, StringBuffer& destination) {
    std::size_t length = 0;
    // At a byte boundary the characters are whole bytes of the payload: copy them at once.
    if (reader.bitOffset == 0 && reader.bytePos < reader.size) {
        const std::uint8_t* start = reader.data + reader.bytePos;
        const std::size_t available =
            std::min<std::size_t>(reader.size - reader.bytePos, MAX_READ_STRING_CHARS);
        const void* nul = std::memchr(start, 0, available);
        length = nul ? std::size_t(static_cast<const std::uint8_t*>(nul) - start) : available;
        std::memcpy(destination.data(), start, length);
        reader.bytePos += std::uint32_t(length + (nul ? 1 : 0));
        if (nul) {
            destination[length] = '\0';
            return length;
        }
    }
    while (length < MAX_READ_STRING_CHARS) {
        const char c = char(pktReadBits(reader, 8));
        destination[length] = c;
        if (c == '\0') return length;
        ++length;
    }
    destination[MAX_READ_STRING_CHARS] = '\0';
    return length;
}

}  // namespace tarnic
