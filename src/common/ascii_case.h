#pragma once

// Letter case in the ASCII range only, the same whatever the locale: key names of
// info strings and file name extensions compare this way.

#include <algorithm>
#include <string_view>

namespace tarnic {

/// The letter in lower case; every other byte unchanged.
constexpr char foldAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

constexpr bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return foldAsciiLetter(x) == foldAsciiLetter(y);
    });
}

constexpr bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equalIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace tarnic
