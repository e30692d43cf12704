#pragma once

#include <cstdint>
#include <string_view>

namespace tarnic {

/// Reads a decimal integer the way atoi does: leading white space skipped, an
/// optional sign, then digits up to the first other character; text without
/// digits there reads as 0. Unlike atoi it cannot overflow: a value beyond the
/// 32-bit range saturates to INT32_MIN or INT32_MAX.
std::int32_t parseTextInteger(std::string_view text);

}  // namespace tarnic
