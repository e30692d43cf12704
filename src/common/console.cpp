#include "common/console.h"

#include <cstdarg>
#include <cstdio>

namespace tarnic {

void Console::print(const char* format, ...) {
    char small[256];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (std::size_t(length) < sizeof small) {
        va_end(again);
        write(std::string_view(small, std::size_t(length)));
        return;
    }
    std::string large(std::size_t(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    large.resize(std::size_t(length));
    write(large);
}

void HeldConsole::write(std::string_view text) {
    text_ += text;
    ends_.push_back(text_.size());
}

void HeldConsole::passOn(Console& console) const {
    std::size_t begin = 0;
    for (const std::size_t end : ends_) {
        console.write(std::string_view(text_).substr(begin, end - begin));
        begin = end;
    }
}

}  // namespace tarnic
