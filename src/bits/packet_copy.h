#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"

namespace tarnic {

/// Bits one step of `pktCopyBits` moves: what a 64-bit window holds at any bit offset.
inline constexpr unsigned COPY_CHUNK_BITS = 56;

/// The read position in bits.
inline std::uint64_t pktReadPosition(const PacketReader& reader) {
    return std::uint64_t{reader.bytePos} * 8 + reader.bitOffset;
}

/// Moves the read position to bit `position`, passing over what lies between unread. A
/// position past the payload's end sets `pastEnd`, as reading up to it would, and
/// leaves the reader at the end.
inline void pktSkipTo(PacketReader& reader, std::uint64_t position) {
    const std::uint64_t end = std::uint64_t{reader.size} * 8;
    if (position > end) {
        reader.pastEnd = true;
        position = end;
    }
    reader.bytePos = std::uint32_t(position >> 3);
    reader.bitOffset = std::uint8_t(position & 7);
}

/// A payload as a scan ahead of the reader sees it. A loop of peeks holds this copy in
/// registers; through the reader it would reload the fields after every byte the
/// writer stores, since such a store might alias them.
struct PacketView {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;  ///< bytes
};

inline PacketView pktView(const PacketReader& reader) { return {reader.data, reader.size}; }

/// The `bits`-bit field (1..32) at bit `position` of the payload; zeros past its end.
inline std::uint32_t pktPeekAt(PacketView payload, std::uint64_t position, int bits) {
    const std::uint64_t byte = position >> 3;
    const std::uint64_t window =
        pktWindowFits(byte, payload.size) ? loadLittle64(payload.data + byte) : pktLoadNearEnd(payload.data, payload.size, byte);
    return std::uint32_t((window >> (position & 7)) & lowBits(unsigned(bits)));
}

/// Copies `chunks` whole 56-bit chunks, each of which must lie with its 64-bit window
/// inside the payload. A chunk is 7 bytes, so neither side's bit offset moves: the
/// positions and the writer's partly filled byte stay in registers for the whole run.
inline void pktCopyChunks(PacketReader& reader, PacketWriter& writer, std::uint64_t chunks) {
    constexpr unsigned chunkBytes = COPY_CHUNK_BITS / 8;
    // The last chunk's window ends 8 bytes past the position's byte and the chunks
    // before it; the byte behind is the window's spare.
    if (writer.data.size() < std::size_t(writer.bitPos >> 3) + (chunks - 1) * chunkBytes + WRITER_WINDOW_BYTES) {
        pktReserve(writer, chunks * chunkBytes + 1);
    }
    const unsigned writeOffset = unsigned(writer.bitPos & 7);
    const std::uint8_t* from = reader.data + reader.bytePos;
    std::uint8_t* to = writer.data.data() + (writer.bitPos >> 3);
    // A chunk's bits are masked where they lie and rotated to where they go: one shift
    // count for the whole run, and bits 56 to 63 of neither offset wrap around.
    const std::uint64_t chunkBits = lowBits(COPY_CHUNK_BITS) << reader.bitOffset;
    const int rotation = int(reader.bitOffset) - int(writeOffset);
    std::uint64_t partialByte = to[0];
    for (std::uint64_t i = 0; i < chunks; ++i) {
        const std::uint64_t word = partialByte | std::rotr(loadLittle64(from) & chunkBits, rotation);
        storeLittle64(to, word);
        partialByte = word >> COPY_CHUNK_BITS;
        from += chunkBytes;
        to += chunkBytes;
    }
    reader.bytePos += std::uint32_t(chunks * chunkBytes);
    writer.bitPos += chunks * COPY_CHUNK_BITS;
}

/// Copies `bits` bits from the reader to the writer unchanged.
inline void pktCopyBits(PacketReader& reader, PacketWriter& writer, std::uint64_t bits) {
    constexpr unsigned chunkBytes = COPY_CHUNK_BITS / 8;
    std::uint64_t chunks = bits / COPY_CHUNK_BITS;
    if (std::uint64_t{reader.bytePos} + chunks * chunkBytes + 1 > reader.size) {
        const std::uint64_t windowsInside =
            pktWindowFits(reader.bytePos, reader.size) ? (reader.size - reader.bytePos - 8) / chunkBytes + 1 : 0;
        chunks = std::min(chunks, windowsInside);
    }
    if (chunks > 0) {
        pktCopyChunks(reader, writer, chunks);
        bits -= chunks * COPY_CHUNK_BITS;
    }
    while (bits > 0) {
        const unsigned chunk = bits < COPY_CHUNK_BITS ? unsigned(bits) : COPY_CHUNK_BITS;
        std::uint64_t window;
        if (pktWindowFits(reader.bytePos, reader.size)) {
            window = loadLittle64(reader.data + reader.bytePos) >> reader.bitOffset;
        } else {
            window = pktLoadTail(reader, chunk) >> reader.bitOffset;
        }
        pktAdvance(reader, chunk);
        pktWriteWord(writer, window, chunk);
        bits -= chunk;
    }
}

/// Copies the bits from the read position up to bit `position`, where a scan ahead of
/// the reader has got to, passes over the `oldBits` bits (0 to 56) of the field there,
/// which the caller has read ahead, and writes the low `newBits` bits (0 to 56) of
/// `value` in its place. Where a window at `position` lies inside the payload, every
/// window of the copy does too, and the field as well: the positions stay in registers,
/// the whole chunks go by `pktCopyChunks`' rotation and the rest of the copy goes out
/// with the value, in one write where both fit in a chunk.
inline void pktCopyUpToThenReplace(PacketReader& reader, PacketWriter& writer, std::uint64_t position,
                                   unsigned oldBits, std::uint64_t value, unsigned newBits) {
    if (!pktWindowFits(position >> 3, reader.size)) {
        pktCopyBits(reader, writer, position - pktReadPosition(reader));
        if (newBits > 0) pktWriteWord(writer, value, newBits);
        pktSkipTo(reader, position + oldBits);
        return;
    }
    std::uint64_t from = pktReadPosition(reader);
    std::uint64_t count = position - from;
    std::uint64_t to = writer.bitPos;
    if (writer.data.size() < (to >> 3) + (count >> 3) + 8 + WRITER_WINDOW_BYTES) {
        pktReserve(writer, (count >> 3) + 8);
        to = writer.bitPos;
    }
    std::uint8_t* out = writer.data.data();
    if (count >= COPY_CHUNK_BITS) {
        constexpr unsigned chunkBytes = COPY_CHUNK_BITS / 8;
        const std::uint8_t* source = reader.data + (from >> 3);
        std::uint8_t* target = out + (to >> 3);
        const std::uint64_t chunkBits = lowBits(COPY_CHUNK_BITS) << (from & 7);
        const int rotation = int(from & 7) - int(to & 7);
        std::uint64_t partialByte = target[0];
        do {
            const std::uint64_t word = partialByte | std::rotr(loadLittle64(source) & chunkBits, rotation);
            storeLittle64(target, word);
            partialByte = word >> COPY_CHUNK_BITS;
            source += chunkBytes;
            target += chunkBytes;
            count -= COPY_CHUNK_BITS;
        } while (count >= COPY_CHUNK_BITS);
        from = position - count;
        to = std::uint64_t(target - out) * 8 + (to & 7);
    }
    const std::uint64_t tail = (loadLittle64(reader.data + (from >> 3)) >> (from & 7)) & lowBits(unsigned(count));
    value &= lowBits(newBits);
    // The rest of the copy, then the value behind it: two writes whether or not both
    // would fit in one, which on random lengths is no branch to mispredict.
    std::uint8_t* at = out + (to >> 3);
    storeLittle64(at, at[0] | tail << (to & 7));
    const std::uint64_t middle = to + count;
    at = out + (middle >> 3);
    storeLittle64(at, at[0] | value << (middle & 7));
    writer.bitPos = to + count + newBits;
    const std::uint64_t next = position + oldBits;
    reader.bytePos = std::uint32_t(next >> 3);
    reader.bitOffset = std::uint8_t(next & 7);
}

/// Copies the bits from the read position up to bit `position`, where a scan ahead
/// of the reader has got to.
inline void pktCopyUpTo(PacketReader& reader, PacketWriter& writer, std::uint64_t position) {
    pktCopyUpToThenReplace(reader, writer, position, 0, 0, 0);
}

}  // namespace tarnic
