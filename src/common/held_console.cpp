#include "common/held_console.h"

namespace tarnic {

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
