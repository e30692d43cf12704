#pragma once

#include <cstddef>
#include <string_view>

namespace tarnic::text {

/// The length of the well-formed UTF-8 sequence at `at` (1 for ASCII, up to 4), or 0
/// where the byte there begins none: a stray continuation byte, an overlong form, a
/// surrogate, a code point beyond U+10FFFF or a sequence cut short.
std::size_t utf8SequenceAt(std::string_view text, std::size_t at);

/// The number of characters a terminal shows for the text, taken as UTF-8.
std::size_t displayWidth(std::string_view text);

}  // namespace tarnic::text
