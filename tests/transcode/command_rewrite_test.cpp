#include "transcode/command_rewrite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "bits/packet_writer.h"

namespace tarnic {
namespace {

// One widened score entry: the six values given, then eight zeros.
std::string entry(const std::string& values) { return " " + values + " 0 0 0 0 0 0 0 0"; }

TEST(CommandRewrite, RewritesCsAndScoresAndPassesTheRestThrough) {
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        {"cs 12 abc", "cs 20 abc"},
        {"cs 15 a b c", "cs 23 a b c"},
        {"cs 5 abc", "cs 5 abc"},
        {"cs 05 abc", "cs 5 abc"},
        {"cs 20 abc", ""},
        {"cs 21 x", ""},
        {"scores 2 10 5 0 20 50 100 0 0 3 15 70 200 1 2",
         "scores 2 10 5" + entry("0 20 50 100 0 0") + entry("3 15 70 200 1 2")},
        {"scores 0 7 9", "scores 0 7 9"},
        {"scores -3 7 9 1 2 3 4 5 6", "scores 0 7 9"},
        {"plink hello", "plink hello"},
        // The text part follows the second space, wherever the index word is.
        {"cs  12 abc", "cs 20 12 abc"},
        {"csx 13 abc", "csx 21 abc"},
        {"cs +017x \"a  b\" ", "cs 17 \"a  b\" "},
        {"cs 12 ", "cs 20 "},
        {"cs 99999999999 a", "cs 2147483647 a"},
        {"cs\t12 13 b", "cs\t12 21 b"},
        // Without both spaces and an index word there is nothing to renumber.
        {"cs", "cs"},
        {"cs 12", "cs 12"},
        {"cs  ", "cs  "},
        {"cs   ", "cs   "},
        {" cs 12 abc", " cs 12 abc"},
        {" scores 1 2 3", " scores 1 2 3"},
        {"", ""},
        {"scoresx 1 7 9 -1 -2 -3 -4 -5 -6", "scores 1 7 9" + entry("-1 -2 -3 -4 -5 -6")},
        {"scores   1  7 9 1\t2 3 4 5 6 7", "scores 1 7 9" + entry("1 3 4 5 6 7")},
        // Values that do not print as they came: read as numbers and printed anew.
        {"scores 1 7 9 +5 007 -0 0 12abc 99999999999", "scores 1 7 9" + entry("5 7 0 0 12 2147483647")},
        {"scores 1 7 9 -2147483649 1000000000 -999999999 - 0x1f 9",
         "scores 1 7 9" + entry("-2147483648 1000000000 -999999999 0 0 9")},
        // An entry whose later words do not print as they came, or sit behind two spaces.
        {"scores 2 7 9 1 2 3 4 5 06 -7 8 9 10 11  12", "scores 2 7 9" + entry("1 2 3 4 5 6") + entry("-7 8 9 10 11 12")},
        // Missing words read as 0.
        {"scores 2 7", "scores 2 7 0" + entry("0 0 0 0 0 0") + entry("0 0 0 0 0 0")},
        {"scores 1 7 9 1 2", "scores 1 7 9" + entry("1 2 0 0 0 0")},
        {"scores", "scores 0 0 0"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(rewriteServerCommand(row.in), row.out) << "command \"" << row.in << '"';
    }
}

// The rebuilt "scores" command holding the first `written` of the entries.
std::string scores(int written, const std::string& header, const std::vector<std::string>& entries) {
    std::string command = "scores " + std::to_string(written) + " " + header;
    for (int i = 0; i < written; ++i) command += entry(entries[std::size_t(i)]);
    return command;
}

TEST(CommandRewrite, ReadsNoMoreThanMaxScoreEntries) {
    std::vector<std::string> entries;
    std::string command = "scores 40 1 2";
    for (int i = 0; i < 40; ++i) {
        entries.push_back(std::to_string(i) + " 1 2 3 4 5");
        command += " " + entries.back();
    }
    EXPECT_EQ(rewriteServerCommand(command), scores(MAX_SCORE_ENTRIES, "1 2", entries));
}

// Whatever the width of the values, the list keeps the first entries whole, its
// count says how many, and the command stays short enough for pktWriteString.
TEST(CommandRewrite, CutsLongScoreListsToFitTheStringLimit) {
    // With "0 111" and "0 1111" and 999999999, 28 entries make 1023 and 1024 characters.
    for (const std::string header : {"0 0", "0 111", "0 1111", "-2147483648 -2147483648"}) {
        for (const std::string value : {"1", "999999", "999999999", "-2000000000"}) {
            SCOPED_TRACE("header " + header + ", value " + value);
            std::vector<std::string> entries;
            std::string command = "scores 32 " + header;
            for (int i = 0; i < MAX_SCORE_ENTRIES; ++i) {
                entries.push_back(std::to_string(i % 10) + " " + value + " 1 2 3 4");
                command += " " + entries.back();
            }
            const std::string out = rewriteServerCommand(command);
            const int written = std::atoi(out.c_str() + 7);
            ASSERT_GT(written, 0);
            EXPECT_EQ(out, scores(written, header, entries));
            EXPECT_LT(out.size(), MAX_STRING_CHARS);
            if (written < MAX_SCORE_ENTRIES) {
                EXPECT_GE(scores(written + 1, header, entries).size(), MAX_STRING_CHARS);
            }
        }
    }
}

}  // namespace
}  // namespace tarnic
