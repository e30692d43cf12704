#include "transcode/config_index.h"

#include <array>

namespace tarnic {

namespace {

struct IndexMove {
    std::int32_t oldIndex;
    std::optional<std::int32_t> newIndex;  ///< nothing: the new protocol has no such string
};

// Every index not listed keeps its number.
constexpr std::array<IndexMove, 6> INDEX_MOVES{{
    {12, 20},
    {13, 21},
    {14, 22},
    {15, 23},
    {20, std::nullopt},
    {21, std::nullopt},
}};

}  // namespace

std::optional<std::int32_t> remapConfigIndex(std::int32_t oldIndex) {
    for (const IndexMove& move : INDEX_MOVES) {
        if (move.oldIndex == oldIndex) return move.newIndex;
    }
    return oldIndex;
}

}  // namespace tarnic
