#pragma once

#include <cstdint>
#include <string>

#include "tarnic/console.h"

namespace tarnic {

/// New configuration-string indices from here on, 128 of them, hold player info strings.
inline constexpr std::int32_t FIRST_PLAYER_INFO_INDEX = 544;
inline constexpr std::int32_t PLAYER_INFO_COUNT = 128;

inline constexpr bool isPlayerInfoIndex(std::int32_t newIndex) {
    return newIndex >= FIRST_PLAYER_INFO_INDEX && newIndex < FIRST_PLAYER_INFO_INDEX + PLAYER_INFO_COUNT;
}

/// Gives a player info string the key "hmodel" with the value of its key "model"
/// (looked up ignoring letter case); an empty "model" leaves no "hmodel".
void setHModelFromModel(std::string& info, Console& console);

}  // namespace tarnic
