#pragma once

#include <mutex>

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

/// Held around the archive library's calls that read or write a member's header:
/// they convert its time with the C library's local-time functions, which reset the
/// process's time-zone state (mktime) while another thread may be reading it. The C
/// library guards that state with a lock of its own the thread sanitizer cannot see;
/// this one makes the order plain, at the cost of headers read one at a time.
std::mutex& headerLock();

}  // namespace tarnic::packs
