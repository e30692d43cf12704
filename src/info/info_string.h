#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/console.h"

namespace tarnic {

/// A text this long or longer draws the lookup's oversize message.
inline constexpr std::size_t INFO_READ_LIMIT = 8192;
/// A text this long or longer draws the edits' oversize message; no edit makes a text longer.
inline constexpr std::size_t INFO_EDIT_LIMIT = 1024;

/// The value of the first pair whose key matches, letter case ignored; empty when none does.
std::string Info_ValueForKey(std::string_view text, std::string_view key, Console& console);

/// Removes the first pair whose key is equal, byte for byte.
void Info_RemoveKey(std::string& text, std::string_view key, Console& console);

/// Removes the key, then appends \key\value unless the value is empty.
void Info_SetValueForKey(std::string& text, std::string_view key, std::string_view value, Console& console);

}  // namespace tarnic
