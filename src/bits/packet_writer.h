#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "bits/byte_order.h"

namespace tarnic {

class Console;

/// The longest converted message: the output record stores its length plus 4 in a
/// signed 32-bit field.
inline constexpr std::size_t MAX_MESSAGE_BYTES = std::numeric_limits<std::int32_t>::max() - 16;

/// Longest text `pktWriteString` accepts is one less than this.
inline constexpr std::size_t MAX_STRING_CHARS = 1024;

/// One output message, built as a stream of bits, least significant bit first.
/// The buffer grows as needed, so no write ever lands outside it.
struct PacketWriter {
    /// The output bytes; only the first `count` belong to the message.
    std::vector<std::uint8_t> data;
    std::int32_t count = 0;      ///< bytes begun; the last may be partly filled
    std::uint8_t bitOffset = 0;  ///< next free bit in byte `count` - 1; 0 starts a new byte
    /// Byte `count` - 1 while it is partly filled, else 0. Writes OR into this copy and
    /// store whole words, so they never load back what the previous write stored.
    std::uint8_t partialByte = 0;
    /// Set once the message grew past what a record can frame (MAX_MESSAGE_BYTES). What
    /// was written is then dropped and later writes land in a fresh buffer, so nothing
    /// is written outside it; the driver sees the flag and stops.
    bool overflowed = false;
};

inline void pktResetWriter(PacketWriter& writer) {
    writer.count = 0;
    writer.bitOffset = 0;
    writer.partialByte = 0;
    writer.overflowed = false;
}

/// Takes back everything written after the first `bits` bits.
void pktRewindWriter(PacketWriter& writer, std::uint64_t bits);

/// Makes room for `bytes` bytes from index `count` on, plus an 8-byte window.
void pktReserve(PacketWriter& writer, std::size_t bytes);

/// Writes the low `bits` bits (at most 56) of a 64-bit value.
inline void pktWriteWord(PacketWriter& writer, std::uint64_t value, unsigned bits) {
    // The field lands in the partly filled last byte, or in a new byte at `count`;
    // the bytes it begins start at zero.
    if (writer.data.size() < std::size_t(writer.count) + 8) pktReserve(writer, 1);
    const std::size_t base = std::size_t(writer.count) - (writer.bitOffset ? 1 : 0);
    const std::uint64_t word = writer.partialByte | (value & lowBits(bits)) << writer.bitOffset;
    storeLittle64(writer.data.data() + base, word);
    const unsigned position = writer.bitOffset + bits;
    const unsigned fullBytes = position >> 3;
    writer.bitOffset = std::uint8_t(position & 7);
    writer.count = std::int32_t(base + fullBytes + (writer.bitOffset ? 1 : 0));
    writer.partialByte = writer.bitOffset ? std::uint8_t(word >> (8 * fullBytes)) : 0;
}

/// Writes the low bits of `value`, a field of up to 32 bits. A negative count counts by
/// its magnitude and 0 writes nothing, as the packet interface has always taken counts.
inline void pktWriteBits(PacketWriter& writer, std::int32_t value, int bits) {
    const unsigned width = bits < 0 ? 0u - unsigned(bits) : unsigned(bits);
    assert(width <= 32);
    if (width == 0) return;
    pktWriteWord(writer, std::uint32_t(value), width);
}

/// The number of bits written.
inline std::uint64_t pktWrittenBits(const PacketWriter& writer) {
    return std::uint64_t(writer.count) * 8 - (writer.bitOffset ? 8u - writer.bitOffset : 0u);
}

/// Appends raw bytes at `count`, whatever `bitOffset` is, and leaves `bitOffset` as it is.
void pktWriteData(PacketWriter& writer, const void* bytes, std::size_t length);

/// Writes a string and its NUL. A text of MAX_STRING_CHARS characters or more is
/// refused with a message and written as the empty string, so the message keeps
/// its terminator. Off a byte boundary the characters are written bit-wise.
void pktWriteString(PacketWriter& writer, std::string_view text, Console& console);

/// Pads with zero bits up to the next byte boundary.
inline void pktAlignWriter(PacketWriter& writer) {
    writer.bitOffset = 0;
    writer.partialByte = 0;
}

}  // namespace tarnic
