#pragma once

#include <archive.h>

#include <string>

namespace tarnic::packs {

/// The archive library's account of its last failure, or `fallback` where it gives none.
inline std::string errorOf(archive* pack, const char* fallback) {
    const char* text = archive_error_string(pack);
    return text != nullptr && *text != '\0' ? text : fallback;
}

}  // namespace tarnic::packs
