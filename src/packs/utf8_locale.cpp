#include "packs/utf8_locale.h"

#include <clocale>
#include <locale.h>

namespace tarnic::packs {
namespace {

/// Made once for the whole run, never freed: threads switch to it and back.
locale_t utf8Locale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (made == locale_t(0)) made = newlocale(LC_CTYPE_MASK, "C.utf8", locale_t(0));
        return made;
    }();
    return locale;
}

}  // namespace

Utf8Locale::Utf8Locale() : previous_(nullptr) {
    if (const locale_t locale = utf8Locale(); locale != locale_t(0)) previous_ = uselocale(locale);
}

Utf8Locale::~Utf8Locale() {
    if (previous_ != nullptr) uselocale(static_cast<locale_t>(previous_));
}

std::mutex& headerLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace tarnic::packs
