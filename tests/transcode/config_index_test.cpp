#include "transcode/config_index.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnic {
namespace {

TEST(ConfigIndex, MovesFourStringsDropsTwoAndKeepsTheRest) {
    constexpr auto MIN = std::numeric_limits<std::int32_t>::min();
    constexpr auto MAX = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t oldIndex;
        std::optional<std::int32_t> newIndex;
    } rows[] = {
        {11, 11}, {12, 20}, {13, 21}, {14, 22}, {15, 23}, {16, 16}, {19, 19},
        {20, std::nullopt}, {21, std::nullopt}, {22, 22}, {23, 23}, {0, 0}, {-12, -12},
        {MIN, MIN}, {MAX, MAX},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(remapConfigIndex(row.oldIndex), row.newIndex) << "old index " << row.oldIndex;
    }
}

}  // namespace
}  // namespace tarnic
