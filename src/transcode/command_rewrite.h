#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnic {

/// Most entries a rebuilt "scores" command carries.
inline constexpr int MAX_SCORE_ENTRIES = 32;

/// Longest rebuilt score list, header not included. The whole command must also
/// stay below MAX_STRING_CHARS, which is the tighter bound.
inline constexpr std::size_t MAX_SCORE_LIST_CHARS = 1024;

/// Rewrites one server command text for the new protocol. A "cs" command gets its
/// index renumbered, or becomes empty when the new protocol drops the string; a
/// "scores" command gets every entry widened from six to fourteen integers. Every
/// other command, and a "cs" command without its index and text part, comes back
/// unchanged.
std::string rewriteServerCommand(std::string_view command);

}  // namespace tarnic
