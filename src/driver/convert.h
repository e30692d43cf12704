#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "driver/record_loop.h"

namespace tarnic {

/// The outcome of converting a demo held in memory.
struct ConvertedDemo {
    std::vector<std::uint8_t> demo;  ///< the new-protocol demo file's bytes
    std::string console;             ///< every message the conversion printed, in order
    /// Converted, or MessageTooLarge: then `demo` holds the records before that message.
    ConversionResult outcome = ConversionResult::Converted;
};

/// Converts the bytes of an old demo file into the bytes of the new one, without files.
/// Throws std::bad_alloc when memory runs out; reports everything else in the result.
ConvertedDemo convertDemo(std::span<const std::uint8_t> oldDemo);

/// The same into `result`, whose storage is reused: a caller converting many demos
/// allocates (and the system zeroes) the output's memory once.
void convertDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result);

}  // namespace tarnic
