#include "transcode/remap.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace tarnic {
namespace {

struct RemapRow {
    std::int32_t oldValue, newValue;
};

TEST(RemapEvent, RenumbersTheEventNumberAndKeepsBits8And9) {
    // New numbers of the old events 47..64; 0..46 stay as they are.
    constexpr std::array<std::int32_t, 18> moved = {48, 49, 50, 51, 53, 54, 55, 56, 57,
                                                    58, 59, 60, 61, 62, 63, 64, 74, 76};
    for (std::int32_t event = 0; event <= 64; ++event) {
        const std::int32_t expected = event <= 46 ? event : moved[std::size_t(event - 47)];
        for (const std::int32_t high : {0x000, 0x100, 0x200, 0x300}) {
            EXPECT_EQ(remapEvent(event | high), expected | high) << std::hex << "old 0x" << (event | high);
        }
    }
}

TEST(RemapEvent, PassesValuesOutsideTheTableUnchanged) {
    for (const RemapRow& row : {RemapRow{65, 65}, {74, 74}, {255, 255}, {0x341, 0x341}, {0x3FF, 0x3FF}, {0x405, 0x405}, {-1, -1}}) {
        EXPECT_EQ(remapEvent(row.oldValue), row.newValue) << std::hex << "old 0x" << row.oldValue;
    }
}

TEST(RemapEntityType, MovesEventTypesToTheNewBaseAndNeverGives12) {
    const RemapRow rows[] = {{0, 0},   {11, 11}, {12, 13}, {58, 59},   {59, 61},   {63, 66},   {75, 87},
                             {76, 89}, {77, 78}, {254, 255}, {255, 256}, {-5, -5}, {INT32_MAX, INT32_MIN}};
    for (const RemapRow& row : rows) EXPECT_EQ(remapEntityType(row.oldValue), row.newValue) << "old type " << row.oldValue;
    for (std::int32_t type = 0; type <= 255; ++type) EXPECT_NE(remapEntityType(type), 12) << type;
}

}  // namespace
}  // namespace tarnic
