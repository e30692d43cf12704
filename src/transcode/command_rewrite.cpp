#include "transcode/command_rewrite.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
        const std::size_t start = rest_.find_first_not_of(SPACE);
        if (start == std::string_view::npos) {
            rest_ = {};
            return {};
        }
        rest_.remove_prefix(start);
        const std::string_view word = rest_.substr(0, rest_.find(SPACE));
        rest_.remove_prefix(word.size());
        return word;
    }

    std::int32_t nextInteger() { return parseTextInteger(next()); }

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

std::string formatScoreEntry(const std::array<std::int32_t, OLD_SCORE_FIELDS>& values) {
    std::string piece;
    for (const std::int32_t value : values) {
        piece += ' ';
        piece += std::to_string(value);
    }
    for (int i = 0; i < ADDED_SCORE_FIELDS; ++i) piece += " 0";
    return piece;
}

std::string scoresHeader(int entriesWritten, std::int32_t secondValue, std::int32_t thirdValue) {
    return "scores " + std::to_string(entriesWritten) + ' ' + std::to_string(secondValue) + ' ' +
           std::to_string(thirdValue);
}

std::string rewriteScoresCommand(std::string_view command) {
    WordCursor words(command);
    words.next();  // the rebuilt command is named "scores" whatever the first word was
    const std::int32_t count = words.nextInteger();
    const std::int32_t secondValue = words.nextInteger();
    const std::int32_t thirdValue = words.nextInteger();
    const int entriesToRead = std::clamp(count, 0, MAX_SCORE_ENTRIES);

    // Whole entries only, the first ones kept, and the whole command short enough
    // for pktWriteString: a refused command would lose every entry.
    std::string list;
    int entriesWritten = 0;
    for (; entriesWritten < entriesToRead; ++entriesWritten) {
        std::array<std::int32_t, OLD_SCORE_FIELDS> values{};
        for (std::int32_t& value : values) value = words.nextInteger();
        const std::string piece = formatScoreEntry(values);
        const std::size_t listLength = list.size() + piece.size();
        const std::size_t commandLength =
            scoresHeader(entriesWritten + 1, secondValue, thirdValue).size() + listLength;
        if (listLength > MAX_SCORE_LIST_CHARS || commandLength >= MAX_STRING_CHARS) break;
        list += piece;
    }
    return scoresHeader(entriesWritten, secondValue, thirdValue) + list;
}

}  // namespace

std::string rewriteServerCommand(std::string_view command) {
    // A rewritten "cs" command starts with "cs" or is empty, so at most one rewrite applies.
    if (command.starts_with("cs")) return rewriteConfigStringCommand(command);
    if (command.starts_with("scores")) return rewriteScoresCommand(command);
    return std::string(command);
}

}  // namespace tarnic
