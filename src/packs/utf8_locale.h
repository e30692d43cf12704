#pragma once

namespace tarnic::packs {

/// While it lives, the calling thread works in a UTF-8 locale, so that the archive
/// library reads and writes member names as UTF-8 (a zip member's UTF-8 flag) whatever
/// locale the program runs in. Where the system has no such locale, nothing changes.
class Utf8Locale {
public:
    Utf8Locale();
    ~Utf8Locale();
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    void* previous_;
};

}  // namespace tarnic::packs
