#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnic {

// Both protocols are little-endian on the wire; these move 64 bits between a byte
// buffer and a register without alignment requirements.
inline std::uint64_t loadLittle64(const std::uint8_t* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

inline void storeLittle64(std::uint8_t* bytes, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(bytes, &word, sizeof word);
}

inline std::uint32_t loadLittle32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

inline void storeLittle32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = std::uint8_t(value >> (8 * i));
}

/// Mask of the low `bits` bits, for 0 <= bits <= 63.
constexpr std::uint64_t lowBits(unsigned bits) { return (std::uint64_t{1} << bits) - 1; }

}  // namespace tarnic
