#include "info/info_string.h"

#include <algorithm>
#include <optional>

#include "common/ascii_case.h"

namespace tarnic {

namespace {

/// One pair of an info text. `start` is its opening backslash, or the start of the
/// text when the text begins with a key; `end` is the character that ended the value:
/// the next pair's backslash, or the end of the text.
struct InfoPair {
    std::size_t start;
    std::string_view key;
    std::string_view value;
    std::size_t end;
};

/// Reads the pair that starts at `start`; nothing when its key runs to the end of the
/// text without a backslash behind it, which ends the parse.
std::optional<InfoPair> readInfoPair(std::string_view text, std::size_t start) {
    std::size_t keyStart = start;
    if (keyStart < text.size() && text[keyStart] == '\\') ++keyStart;
    const std::size_t keyEnd = text.find('\\', keyStart);
    if (keyEnd == std::string_view::npos) return std::nullopt;
    const std::size_t valueStart = keyEnd + 1;
    const std::size_t valueEnd = std::min(text.find('\\', valueStart), text.size());
    return InfoPair{start, text.substr(keyStart, keyEnd - keyStart),
                    text.substr(valueStart, valueEnd - valueStart), valueEnd};
}

/// The first pair whose key satisfies `matches`, walking the pairs in text order.
template <typename KeyMatch>
std::optional<InfoPair> findInfoPair(std::string_view text, KeyMatch matches) {
    std::size_t start = 0;
    while (const auto pair = readInfoPair(text, start)) {
        if (matches(pair->key)) return pair;
        start = pair->end;  // at the end of the text the next read finds no key
    }
    return std::nullopt;
}

/// The message of the first character test that `key` and `value` fail, or null.
/// Key before value for each character, backslash before semicolon before quote.
const char* refusedCharacterMessage(std::string_view key, std::string_view value) {
    struct CharacterTest {
        char refused;
        const char* message;
    };
    static constexpr CharacterTest tests[] = {
        {'\\', "Can't use keys or values with a \\\n"},
        {';', "Can't use keys or values with a semicolon\n"},
        {'"', "Can't use keys or values with a \"\n"},
    };
    for (const CharacterTest& test : tests) {
        if (key.find(test.refused) != std::string_view::npos ||
            value.find(test.refused) != std::string_view::npos) {
            return test.message;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<std::pair<std::string_view, std::string_view>> infoPairs(std::string_view text) {
    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    std::size_t start = 0;
    while (const auto pair = readInfoPair(text, start)) {
        pairs.emplace_back(pair->key, pair->value);
        start = pair->end;
    }
    return pairs;
}

std::string Info_ValueForKey(std::string_view text, std::string_view key, Console& console) {
    if (text.size() >= INFO_READ_LIMIT) console.print("Info_ValueForKey: oversize infostring");
    const auto pair = findInfoPair(text, [key](std::string_view pairKey) {
        return equalIgnoringAsciiCase(pairKey, key);
    });
    return pair ? std::string(pair->value) : std::string();
}

void Info_RemoveKey(std::string& text, std::string_view key, Console& console) {
    if (text.size() >= INFO_EDIT_LIMIT) console.print("Info_RemoveKey: oversize infostring");
    if (key.find('\\') != std::string_view::npos) return;
    const auto pair = findInfoPair(text, [key](std::string_view pairKey) { return pairKey == key; });
    // The rest of the text, from the next pair's backslash on, closes over the pair.
    if (pair) text.erase(pair->start, pair->end - pair->start);
}

void Info_SetValueForKey(std::string& text, std::string_view key, std::string_view value,
                         Console& console) {
    if (text.size() >= INFO_EDIT_LIMIT) console.print("Info_SetValueForKey: oversize infostring");
    if (const char* message = refusedCharacterMessage(key, value)) {
        console.print("%s", message);
        return;
    }
    Info_RemoveKey(text, key, console);
    if (value.empty()) return;

    const std::size_t pairLength = 1 + key.size() + 1 + value.size();
    // Measured whole: a pair too long to fit is refused, never cut short.
    if (text.size() + pairLength > INFO_EDIT_LIMIT) {
        console.print("Info string length exceeded\n");
        return;
    }
    text += '\\';
    text += key;
    text += '\\';
    text += value;
}

}  // namespace tarnic
