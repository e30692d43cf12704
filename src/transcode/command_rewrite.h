#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarnic {

/// Most entries a rebuilt "scores" command carries.
inline constexpr int MAX_SCORE_ENTRIES = 32;

/// Longest rebuilt score list, header not included. The whole command must also
/// stay below MAX_STRING_CHARS, which is the tighter bound.
inline constexpr std::size_t MAX_SCORE_LIST_CHARS = 1024;

/// Longest command the buffered rewrite takes: the longest string a packet yields.
inline constexpr std::size_t MAX_REWRITTEN_COMMAND_CHARS = 2047;

/// Where the buffered rewrite puts a command it changes: the longest command with a
/// "cs" index grown to eleven characters, or a rebuilt "scores" command, with room
/// behind for the fixed-size copies of its entries.
using RewriteBuffer = std::array<char, MAX_REWRITTEN_COMMAND_CHARS + 64>;

/// Rewrites one server command text for the new protocol. A "cs" command gets its
/// index renumbered, or becomes empty when the new protocol drops the string; a
/// "scores" command gets every entry widened from six to fourteen integers. Every
/// other command, and a "cs" command without its index and text part, comes back
/// unchanged.
std::string rewriteServerCommand(std::string_view command);

/// The same rewrite without allocating: the text comes back as `command` itself when
/// it is unchanged, else in `buffer`. `command` holds at most
/// MAX_REWRITTEN_COMMAND_CHARS characters.
std::string_view rewriteServerCommand(std::string_view command, RewriteBuffer& buffer);

}  // namespace tarnic
