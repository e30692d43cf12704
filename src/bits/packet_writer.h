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
///
/// The writer keeps a single bit position. The byte it lies in holds the bits written
/// below it and zeros above (raw bytes from `pktWriteData` excepted), so a write
/// loads that byte, ORs the field in above those bits and stores a whole 64-bit word;
/// the word's zeros begin the bytes behind. The byte loaded is one the last write
/// stored, which the processor hands on from its store buffer.
struct PacketWriter {
    /// The output bytes; only the first `pktWrittenBytes` belong to the message. Grown
    /// by `pktReserve` alone: every write finds WRITER_WINDOW_BYTES from the position's
    /// byte on, room for its 64-bit store and for the byte behind it, which aligning
    /// the writer may begin.
    std::vector<std::uint8_t> data;
    std::uint64_t bitPos = 0;  ///< bits written
    /// Set once the message grew past what a record can frame (MAX_MESSAGE_BYTES). What
    /// was written is then dropped and later writes land in a fresh buffer, so nothing
    /// is written outside it; the driver sees the flag and stops.
    bool overflowed = false;
};

/// Bytes a write may store from the position's byte on, and the byte behind them.
inline constexpr std::size_t WRITER_WINDOW_BYTES = 9;

inline void pktResetWriter(PacketWriter& writer) {
    writer.bitPos = 0;
    writer.overflowed = false;
    // The first write ORs into byte 0: it must hold no bits of an earlier message.
    if (!writer.data.empty()) writer.data[0] = 0;
}

/// Takes back everything written after the first `bits` bits.
void pktRewindWriter(PacketWriter& writer, std::uint64_t bits);

/// Makes room for `bytes` bytes from the position's byte on, plus the window behind
/// them. A message that would grow past MAX_MESSAGE_BYTES is dropped instead: the
/// writer starts over at bit 0 and sets `overflowed`.
void pktReserve(PacketWriter& writer, std::size_t bytes);

/// Writes the low `bits` bits (at most 56) of a 64-bit value.
inline void pktWriteWord(PacketWriter& writer, std::uint64_t value, unsigned bits) {
    std::uint64_t position = writer.bitPos;
    if (writer.data.size() < (position >> 3) + WRITER_WINDOW_BYTES) {
        pktReserve(writer, ((position & 7) + bits + 7) >> 3);
        position = writer.bitPos;
    }
    std::uint8_t* at = writer.data.data() + (position >> 3);
    storeLittle64(at, at[0] | (value & lowBits(bits)) << (position & 7));
    writer.bitPos = position + bits;
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
inline std::uint64_t pktWrittenBits(const PacketWriter& writer) { return writer.bitPos; }

/// The bytes of the message: every byte begun, the last perhaps partly filled.
inline std::size_t pktWrittenBytes(const PacketWriter& writer) { return std::size_t((writer.bitPos + 7) >> 3); }

/// Appends raw bytes behind every byte begun and moves the position on by as many
/// bytes: off a byte boundary, the next bits go into the last byte appended, at the
/// same bit offset.
void pktWriteData(PacketWriter& writer, const void* bytes, std::size_t length);

/// Writes a string and its NUL. A text of MAX_STRING_CHARS characters or more is
/// refused with a message and written as the empty string, so the message keeps
/// its terminator. Off a byte boundary the characters are written bit-wise.
void pktWriteString(PacketWriter& writer, std::string_view text, Console& console);

/// Pads with zero bits up to the next byte boundary.
inline void pktAlignWriter(PacketWriter& writer) {
    if ((writer.bitPos & 7) == 0) return;
    writer.bitPos = (writer.bitPos + 7) & ~std::uint64_t{7};
    // The byte may hold what an earlier, longer store left there; the window has it.
    writer.data[std::size_t(writer.bitPos >> 3)] = 0;
}

}  // namespace tarnic
