#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "bits/byte_order.h"

namespace tarnic {

/// Longest string `pktReadString` stores, not counting its NUL.
inline constexpr std::size_t MAX_READ_STRING_CHARS = 2047;

/// Destination of `pktReadString`: the longest string and its NUL.
using StringBuffer = std::array<char, MAX_READ_STRING_CHARS + 1>;

/// One input message, read as a stream of bits, least significant bit first.
struct PacketReader {
    const std::uint8_t* data = nullptr;  ///< the payload; owned by the driver
    std::uint32_t size = 0;              ///< payload length in bytes
    std::uint8_t bitOffset = 0;          ///< next bit inside the current byte, 0..7
    std::uint32_t bytePos = 0;           ///< index of the current byte
    /// Set once a read has asked for a bit beyond the payload. Such bits read as
    /// zero; the driver and the transcoders test this to stop on damaged input.
    bool pastEnd = false;
};

inline void pktResetReader(PacketReader& reader) {
    reader.bitOffset = 0;
    reader.bytePos = 0;
    reader.pastEnd = false;
}

/// True once every byte of the payload has been begun (bits left in the last byte do not count).
inline bool pktAtEnd(const PacketReader& reader) { return reader.bytePos >= reader.size; }

inline void pktAdvance(PacketReader& reader, unsigned bits) {
    const unsigned position = reader.bitOffset + bits;
    reader.bytePos += position >> 3;
    reader.bitOffset = std::uint8_t(position & 7);
}

inline int pktReadBit(PacketReader& reader) {
    int bit = 0;
    if (reader.bytePos < reader.size) {
        bit = (reader.data[reader.bytePos] >> reader.bitOffset) & 1;
    } else {
        reader.pastEnd = true;
    }
    pktAdvance(reader, 1);
    return bit;
}

/// True when the 8 bytes from `byte` on lie inside a payload of `size` bytes, so that a
/// whole 64-bit window can be loaded there; near the end the window is assembled instead.
inline bool pktWindowFits(std::uint64_t byte, std::uint32_t size) { return byte + 8 <= size; }

/// The 8 bytes from `byte` on, where they reach past the payload's `size` bytes:
/// zeros stand in for the bytes beyond it.
std::uint64_t pktLoadNearEnd(const std::uint8_t* data, std::uint32_t size, std::uint64_t byte);

/// Loads the bytes from `bytePos` on near the end of the payload, zero past its end.
std::uint64_t pktLoadTail(PacketReader& reader, unsigned bits);

/// Reads a field of 1 to 32 bits; the bits above the field are zero.
inline std::uint32_t pktReadBits(PacketReader& reader, int bits) {
    assert(bits >= 1 && bits <= 32);
    const unsigned width = unsigned(bits);
    std::uint64_t window;
    if (pktWindowFits(reader.bytePos, reader.size)) {
        window = loadLittle64(reader.data + reader.bytePos);
    } else {
        window = pktLoadTail(reader, width);
    }
    const auto value = std::uint32_t((window >> reader.bitOffset) & lowBits(width));
    pktAdvance(reader, width);
    return value;
}

/// Reads a NUL-terminated string of 8-bit characters at any bit offset. Stores at
/// most 2047 characters and a NUL; a longer string's rest stays in the stream.
/// Returns the number of characters stored.
std::size_t pktReadString(PacketReader& reader, StringBuffer& destination);

/// Skips the rest of the current byte, so the next read starts at a byte boundary.
inline void pktAlignReader(PacketReader& reader) {
    if (reader.bitOffset != 0) {
        reader.bitOffset = 0;
        ++reader.bytePos;
    }
}

}  // namespace tarnic
