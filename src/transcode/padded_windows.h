#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bits/byte_order.h"
#include "bits/packet_copy.h"

namespace tarnic {

/// The `Bits` bits of a payload from a bit position on, each readable by a 64-bit
/// window without checking for the payload's end. Where those windows lie inside the
/// payload they are loaded from it; near its end, from a copy of its last bytes with
/// zeros behind, which is what a checked read finds there. Either way a scan over them
/// reads the same bits by the same code.
template <std::uint64_t Bits>
class PaddedWindows {
public:
    PaddedWindows(PacketView payload, std::uint64_t start) : origin_(start & ~std::uint64_t{7}) {
        const std::uint64_t firstByte = start >> 3;
        if (pktWindowFits((start + Bits) >> 3, payload.size)) {
            base_ = payload.data + firstByte;
            return;
        }
        copy_.fill(0);
        if (firstByte < payload.size) {
            const std::size_t length = std::min<std::size_t>(payload.size - firstByte, BYTES);
            std::memcpy(copy_.data(), payload.data + firstByte, length);
        }
        base_ = copy_.data();
    }
    PaddedWindows(const PaddedWindows&) = delete;
    PaddedWindows& operator=(const PaddedWindows&) = delete;

    /// The 57 bits or more from bit `position` on, which lies within `Bits` bits of the start.
    std::uint64_t at(std::uint64_t position) const {
        const std::uint64_t offset = position - origin_;
        return loadLittle64(base_ + (offset >> 3)) >> (offset & 7);
    }

    /// The start's byte, at bit 0 of which offsets count.
    std::uint64_t origin() const { return origin_; }

    /// The 8 bytes from the byte that bit `offset`, counted from `origin()`, lies in: the
    /// 57 bits or more from that bit on, unshifted.
    std::uint64_t word(std::uint64_t offset) const { return loadLittle64(base_ + (offset >> 3)); }

private:
    /// The start's bit offset in its byte, the bits and the last window's 8 bytes.
    static constexpr std::size_t BYTES = std::size_t((7 + Bits) >> 3) + 8;

    const std::uint8_t* base_ = nullptr;
    std::uint64_t origin_;
    std::array<std::uint8_t, BYTES> copy_;
};

/// Bits a window of `PaddedWindows` holds at any bit offset.
inline constexpr unsigned PADDED_WINDOW_BITS = 57;

}  // namespace tarnic
