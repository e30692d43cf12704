#include "transcode/remap.h"

#include <array>

namespace tarnic {

namespace {

/// New event number for each old event number 0..64. The new protocol inserts
/// its own events at 47, 52, 65..73 and 75, so the old numbers above them move up.
constexpr std::array<std::uint8_t, 65> EVENT_NUMBERS = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,   // 0..9
    10, 11, 12, 13, 14, 15, 16, 17, 18, 19,  // 10..19
    20, 21, 22, 23, 24, 25, 26, 27, 28, 29,  // 20..29
    30, 31, 32, 33, 34, 35, 36, 37, 38, 39,  // 30..39
    40, 41, 42, 43, 44, 45, 46, 48, 49, 50,  // 40..49
    51, 53, 54, 55, 56, 57, 58, 59, 60, 61,  // 50..59
    62, 63, 64, 74, 76,                      // 60..64
};

/// Bits 8 and 9 of an event value travel beside the event number, untouched.
constexpr std::uint32_t EVENT_HIGH_BITS = 0x300;

/// Entity types from this one on carry an event number above it.
constexpr std::int32_t OLD_EVENT_TYPE_BASE = 12;
constexpr std::int32_t NEW_EVENT_TYPE_BASE = 13;

}  // namespace

std::int32_t remapEvent(std::int32_t oldValue) {
    const auto value = std::uint32_t(oldValue);
    const std::uint32_t eventNumber = value & ~EVENT_HIGH_BITS;
    // Values beyond the table, bits 10 and up included, are no event the table knows.
    if (eventNumber >= EVENT_NUMBERS.size()) return oldValue;
    return std::int32_t(EVENT_NUMBERS[eventNumber] | (value & EVENT_HIGH_BITS));
}

std::int32_t remapEntityType(std::int32_t oldType) {
    if (oldType < OLD_EVENT_TYPE_BASE) return oldType;
    const std::int32_t newEvent = remapEvent(oldType - OLD_EVENT_TYPE_BASE);
    // Unsigned addition: a type near the top of the range wraps instead of overflowing.
    return std::int32_t(std::uint32_t(newEvent) + NEW_EVENT_TYPE_BASE);
}

}  // namespace tarnic
