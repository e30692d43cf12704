#include "transcode/command_rewrite.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

#include "bits/packet_writer.h"
#include "transcode/config_index.h"
#include "transcode/text_integer.h"

namespace tarnic {

namespace {

// Words are separated by runs of this character alone; tabs belong to the words.
constexpr char SPACE = ' ';

constexpr std::size_t OLD_SCORE_FIELDS = 6;
constexpr int ADDED_SCORE_FIELDS = 8;

/// Hands out the words of a command in order. Past the last word it hands out
/// empty words, which read as 0, so a short command still yields every field.
class WordCursor {
public:
    explicit WordCursor(std::string_view text) : rest_(text) {}

    std::string_view next() {
        // Words are short: plain loops, rather than a library search call for each.
        std::size_t start = 0;
        while (start < rest_.size() && rest_[start] == SPACE) ++start;
        std::size_t end = start;
        while (end < rest_.size() && rest_[end] != SPACE) ++end;
        const std::string_view word = rest_.substr(start, end - start);
        rest_.remove_prefix(end);
        return word;
    }

    std::int32_t nextInteger() { return parseTextInteger(next()); }

    /// What is left of the text, and a way to move past the part of it read directly.
    std::string_view rest() const { return rest_; }
    void skipTo(const char* at) { rest_.remove_prefix(std::size_t(at - rest_.data())); }

private:
    std::string_view rest_;
};

std::string rewriteConfigStringCommand(std::string_view command) {
    // The text part is whatever follows the second space, wherever the words fall.
    const std::size_t firstSpace = command.find(SPACE);
    if (firstSpace == std::string_view::npos) return std::string(command);
    const std::size_t secondSpace = command.find(SPACE, firstSpace + 1);
    if (secondSpace == std::string_view::npos) return std::string(command);
    const std::string_view indexWord = WordCursor(command.substr(firstSpace)).next();
    if (indexWord.empty()) return std::string(command);

    const std::optional<std::int32_t> newIndex = remapConfigIndex(parseTextInteger(indexWord));
    if (!newIndex) return {};
    std::string rebuilt(command.substr(0, firstSpace));
    rebuilt += ' ';
    rebuilt += std::to_string(*newIndex);
    rebuilt += ' ';
    rebuilt += command.substr(secondSpace + 1);
    return rebuilt;
}

/// Room for one rebuilt score entry: each old field as " " and an int32 at its longest,
/// then the added fields, " 0" each.
constexpr std::size_t SCORE_ENTRY_CHARS = OLD_SCORE_FIELDS * 12 + 2 * ADDED_SCORE_FIELDS;

/// Reads the next word of `words` as a score value and writes its integer value at
/// `at`; returns where it ends. Most words print as themselves (an optional minus,
/// then digits without a leading zero, too few to saturate): those are copied as they
/// are read, in one pass; any other word is read again whole and printed anew.
char* writeScoreValue(char* at, WordCursor& words) {
    const std::string_view rest = words.rest();
    const char* const end = rest.data() + rest.size();
    const char* from = rest.data();
    while (from < end && *from == SPACE) ++from;
    const char* const word = from;
    char* to = at;
    const bool negative = from < end && *from == '-';
    if (negative) *to++ = *from++;
    // At most ten digits: nine print as they came, a tenth may saturate.
    const char* const digits = from;
    while (from < end && from - digits < 10 && unsigned(*from - '0') <= 9) *to++ = *from++;
    const auto digitCount = std::size_t(from - digits);
    const bool wordEnds = from == end || *from == SPACE;
    if (wordEnds && digitCount >= 1 && digitCount <= 9 && (digits[0] != '0' || (digitCount == 1 && !negative))) {
        words.skipTo(from);
        return to;
    }
    while (from < end && *from != SPACE) ++from;
    words.skipTo(from);
    return std::to_chars(at, at + 11, parseTextInteger({word, std::size_t(from - word)})).ptr;
}

/// The fields a score entry gains, each " 0".
constexpr std::string_view ADDED_SCORE_TEXT = " 0 0 0 0 0 0 0 0";
static_assert(ADDED_SCORE_TEXT.size() == 2 * ADDED_SCORE_FIELDS);

/// Reads one score entry's old fields from `words` and writes the rebuilt entry at
/// `at`; returns where it ends.
char* rebuildScoreEntry(char* at, WordCursor& words) {
    // Most entries are their six words, each behind a single space and printing as it
    // came: such an entry is checked, then copied as it stands.
    const std::string_view rest = words.rest();
    const char* const end = rest.data() + rest.size();
    const char* from = rest.data();
    std::size_t field = 0;
    for (; field < OLD_SCORE_FIELDS; ++field) {
        if (from == end || *from != SPACE) break;
        ++from;
        const bool negative = from < end && *from == '-';
        if (negative) ++from;
        const char* const digits = from;
        while (from < end && unsigned(*from - '0') <= 9) ++from;
        const auto digitCount = std::size_t(from - digits);
        if (digitCount == 0 || digitCount > 9 || (digits[0] == '0' && (digitCount > 1 || negative))) break;
        if (from < end && *from != SPACE) break;
    }
    if (field == OLD_SCORE_FIELDS) {
        const auto length = std::size_t(from - rest.data());
        std::memcpy(at, rest.data(), length);
        words.skipTo(from);
        at += length;
        std::memcpy(at, ADDED_SCORE_TEXT.data(), ADDED_SCORE_TEXT.size());
        return at + ADDED_SCORE_TEXT.size();
    }
    for (field = 0; field < OLD_SCORE_FIELDS; ++field) {
        *at++ = ' ';
        at = writeScoreValue(at, words);
    }
    std::memcpy(at, ADDED_SCORE_TEXT.data(), ADDED_SCORE_TEXT.size());
    return at + ADDED_SCORE_TEXT.size();
}

/// The decimal digits of a count, 0 to MAX_SCORE_ENTRIES.
std::size_t countDigits(int count) { return count < 10 ? 1 : 2; }
static_assert(MAX_SCORE_ENTRIES < 100);

std::string rewriteScoresCommand(std::string_view command) {
    WordCursor words(command);
    words.next();  // the rebuilt command is named "scores" whatever the first word was
    const std::int32_t count = words.nextInteger();
    const std::int32_t secondValue = words.nextInteger();
    const std::int32_t thirdValue = words.nextInteger();
    const int entriesToRead = std::clamp(count, 0, MAX_SCORE_ENTRIES);
    // "scores N" and the two values behind it; only N depends on the entries kept.
    const std::string headerTail = ' ' + std::to_string(secondValue) + ' ' + std::to_string(thirdValue);
    constexpr std::size_t NAME_CHARS = std::string_view("scores ").size();

    // Whole entries only, the first ones kept, and the whole command short enough
    // for pktWriteString: a refused command would lose every entry.
    std::array<char, MAX_SCORE_LIST_CHARS + SCORE_ENTRY_CHARS> list;
    std::size_t listLength = 0;
    int entriesWritten = 0;
    for (; entriesWritten < entriesToRead; ++entriesWritten) {
        // Written behind the list, and kept only when it fits.
        char* const end = rebuildScoreEntry(list.data() + listLength, words);
        const auto longer = std::size_t(end - list.data());
        const std::size_t commandLength = NAME_CHARS + countDigits(entriesWritten + 1) + headerTail.size() + longer;
        if (longer > MAX_SCORE_LIST_CHARS || commandLength >= MAX_STRING_CHARS) break;
        listLength = longer;
    }
    std::string rebuilt = "scores " + std::to_string(entriesWritten);
    rebuilt.reserve(rebuilt.size() + headerTail.size() + listLength);
    rebuilt += headerTail;
    rebuilt.append(list.data(), listLength);
    return rebuilt;
}

}  // namespace

std::string rewriteServerCommand(std::string_view command) {
    // A rewritten "cs" command starts with "cs" or is empty, so at most one rewrite applies.
    if (command.starts_with("cs")) return rewriteConfigStringCommand(command);
    if (command.starts_with("scores")) return rewriteScoresCommand(command);
    return std::string(command);
}

}  // namespace tarnic
