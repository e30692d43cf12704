#include "transcode/text_integer.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnic {
namespace {

constexpr auto MIN = std::numeric_limits<std::int32_t>::min();
constexpr auto MAX = std::numeric_limits<std::int32_t>::max();

TEST(TextInteger, ReadsLikeAtoiAndSaturatesOutOfRange) {
    const struct {
        std::string_view text;
        std::int32_t value;
    } rows[] = {
        {"5", 5}, {"05", 5}, {"+5", 5}, {"-5", -5}, {"12abc", 12}, {" \t\n\v\f\r7", 7},
        {"", 0}, {"abc", 0}, {"-", 0}, {"+-3", 0}, {"- 5", 0}, {"5 6", 5},
        {"2147483647", MAX}, {"-2147483648", MIN},
        {"2147483648", MAX}, {"-2147483649", MIN},
        {"000000000000000000002147483647", MAX},
        {"99999999999999999999999999999", MAX}, {"-99999999999999999999999999999", MIN},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(parseTextInteger(row.text), row.value) << '"' << row.text << '"';
    }
}

}  // namespace
}  // namespace tarnic
