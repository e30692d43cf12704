#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tarnic {

/// Reads a decimal integer the way atoi does: leading white space skipped, an
/// optional sign, then digits up to the first other character; text without
/// digits there reads as 0. Unlike atoi it cannot overflow: a value beyond the
/// 32-bit range saturates to INT32_MIN or INT32_MAX.
/// Inline: a "scores" command reads a hundred short numbers in a row.
inline std::int32_t parseTextInteger(std::string_view text) {
    // The C locale's white space; std::isspace would depend on the locale and on char's sign.
    const auto isWhiteSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t at = 0;
    while (at < text.size() && isWhiteSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // The magnitude stops one past INT32_MAX: that is INT32_MIN's magnitude, and
    // enough to tell that a positive value is too large.
    constexpr std::int64_t MAGNITUDE_CAP = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), MAGNITUDE_CAP);
    }
    return std::int32_t(negative ? -magnitude : std::min(magnitude, MAGNITUDE_CAP - 1));
}

}  // namespace tarnic
