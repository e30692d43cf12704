#pragma once

// Which file names are packs, without the archive library: the program built
// without packs still recognises one, to refuse it.

#include <algorithm>
#include <array>
#include <string_view>

#include "common/ascii_case.h"

namespace tarnic::packs {

inline constexpr std::array<std::string_view, 10> PACK_SUFFIXES{
    ".zip", ".tar", ".tar.gz", ".tgz", ".tar.bz2", ".tbz2", ".tar.xz", ".txz", ".tar.zst", ".tzst"};

/// The length of the pack suffix `name` ends with (any letter case), the longest that
/// fits; 0 when none, or when the suffix is the whole name.
constexpr std::size_t packSuffixSize(std::string_view name) {
    std::size_t longest = 0;
    for (const std::string_view suffix : PACK_SUFFIXES) {
        if (name.size() > suffix.size() && endsWithIgnoringAsciiCase(name, suffix)) {
            longest = std::max(longest, suffix.size());
        }
    }
    return longest;
}

}  // namespace tarnic::packs
