#pragma once

#include <cstdint>

namespace tarnic {

/// The 8-bit code that opens each operation of a message; the same in both protocols.
enum ServerOp : std::uint8_t {
    OP_BAD = 0,
    OP_NOP = 1,
    OP_GAMESTATE = 2,
    OP_CONFIGSTRING = 3,
    OP_BASELINE = 4,
    OP_SERVERCOMMAND = 5,
    OP_DOWNLOAD = 6,
    OP_SNAPSHOT = 7,
};

/// The entry code that ends a game state; its other entries take the codes of the
/// matching operations, OP_CONFIGSTRING and OP_BASELINE.
inline constexpr std::uint8_t GAMESTATE_END = 0;

/// A code a message may hold; the others are illegal (0 to 7) or unknown.
constexpr bool isMessageOperation(std::uint32_t code) {
    return code == OP_NOP || code == OP_GAMESTATE || code == OP_SERVERCOMMAND || code == OP_SNAPSHOT;
}

}  // namespace tarnic
