#include "transcode/command_rewrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "bits/packet_writer.h"
#include "transcode/text_integer.h"

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
        {"cs 12\t b", "cs 20 b"},
        // Indices of every width, read directly up to nine digits.
        {"cs 0012 b", "cs 20 b"},
        {"cs 99999 b", "cs 99999 b"},
        {"cs 100000 b", "cs 100000 b"},
        {"cs 999999999 b", "cs 999999999 b"},
        {"cs 1234567890 b", "cs 1234567890 b"},
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

// The "scores" rewrite read plainly: every word read as a number and printed, whole
// entries kept while the list and the command stay short enough.
std::string scoresWordByWord(std::string_view command) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0;;) {
        at = command.find_first_not_of(' ', at);
        if (at == std::string_view::npos) break;
        const std::size_t end = std::min(command.find(' ', at), command.size());
        words.push_back(command.substr(at, end - at));
        at = end;
    }
    std::size_t next = 1;
    const auto value = [&] { return std::to_string(next < words.size() ? parseTextInteger(words[next++]) : 0); };
    const int count = std::clamp(std::stoi(value()), 0, MAX_SCORE_ENTRIES);
    std::string tail = " " + value();
    tail += " " + value();
    std::string list;
    int written = 0;
    for (; written < count; ++written) {
        std::string values;
        for (int field = 0; field < 6; ++field) values += (field ? " " : "") + value();
        const std::string longer = list + entry(values);
        const std::string rebuilt = "scores " + std::to_string(written + 1) + tail + longer;
        if (longer.size() > MAX_SCORE_LIST_CHARS || rebuilt.size() >= MAX_STRING_CHARS) break;
        list = longer;
    }
    return "scores " + std::to_string(written) + tail + list;
}

// Entries copied whole are judged many characters at a time: whatever one character
// becomes, wherever it sits, and wherever the text ends, the rewrite must read as if
// every word were read on its own.
TEST(CommandRewrite, ScoreListsReadAsWordByWordWhateverTheirCharacters) {
    std::mt19937 random(25);
    const std::vector<std::string> values = {"0", "7", "-3", "42", "123456789", "-123456789", "1000000", "-90"};
    const std::string odd[] = {"00", "-0", "1234567890", "-1234567890", "-", "1-2", "+5", "12a", "\t5", "0x1f"};
    const auto clean = [&](int entries) {
        std::string command = "scores " + std::to_string(entries) + " 3 4";
        for (int i = 0; i < 6 * entries; ++i) command += " " + values[random() % values.size()];
        return command;
    };
    const auto check = [](const std::string& command) {
        // In a buffer of its exact size, so that a read past the text is caught.
        const std::vector<char> exact(command.begin(), command.end());
        EXPECT_EQ(rewriteServerCommand({exact.data(), exact.size()}), scoresWordByWord(command))
            << "command \"" << command << '"';
    };
    // One character changed, inserted or removed at every position, and every cut.
    const std::string replacements = " -09\tx\x80";
    for (const int entries : {3, 12}) {
        const std::string command = clean(entries);
        for (std::size_t at = 6; at < command.size(); ++at) {
            for (const char c : replacements) {
                std::string changed = command;
                changed[at] = c;
                check(changed);
                check(command.substr(0, at) + c + command.substr(at));
            }
            check(command.substr(0, at) + command.substr(at + 1));
            check(command.substr(0, at));
        }
    }
    // Entries on either side of the most characters classified at once, behind a long word.
    for (std::size_t word = 1990; word < 2060; word += 3) {
        check("scores 4 1 2 " + std::string(word, '7') + clean(3).substr(12));
    }
    // Odd words and runs of separators anywhere, in lists short and long, cut anywhere.
    for (int round = 0; round < 400; ++round) {
        std::string command = clean(int(random() % 40));
        for (int i = int(random() % 4); i > 0; --i) {
            const std::size_t at = 7 + random() % (command.size() - 6);
            command.insert(at, random() % 2 ? odd[random() % std::size(odd)] : std::string(random() % 3 + 1, ' '));
        }
        check(command.substr(0, command.size() - random() % std::min<std::size_t>(command.size() - 6, 40)));
    }
}

}  // namespace
}  // namespace tarnic
