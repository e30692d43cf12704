#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnic/console.h"

namespace tarnic {

// An info text is \key\value\key\value; the first backslash may be missing. Texts come
// from packet strings, which end at their first NUL, so they hold none. An empty text
// or key is just that: there is no separate "absent" input.

/// A text this long or longer draws the lookup's oversize message.
inline constexpr std::size_t INFO_READ_LIMIT = 8192;
/// A text this long or longer draws the edits' oversize message; no edit makes a text longer.
inline constexpr std::size_t INFO_EDIT_LIMIT = 1024;

/// The value of the first pair whose key matches, ASCII letter case ignored; empty when
/// none does. The value is returned whole, as an owned copy.
std::string Info_ValueForKey(std::string_view text, std::string_view key, Console& console);

/// Removes the first pair whose key is equal, byte for byte.
void Info_RemoveKey(std::string& text, std::string_view key, Console& console);

/// Removes the key, then appends \key\value unless the value is empty. Refuses a key or
/// value holding a backslash, semicolon or double quote, leaving the text unchanged, and
/// appends nothing that would take the text beyond INFO_EDIT_LIMIT characters.
void Info_SetValueForKey(std::string& text, std::string_view key, std::string_view value, Console& console);

/// Every pair of the text in order, as the lookups walk them: keys may repeat.
std::vector<std::pair<std::string_view, std::string_view>> infoPairs(std::string_view text);

}  // namespace tarnic
