#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tarnic/console.h"

namespace tarnic {

/// Holds what is written, each write apart, until it is passed on: for lines that
/// count only once what they describe proves to be there.
class HeldConsole final : public Console {
public:
    void write(std::string_view text) override;
    /// Writes every held write to `console`, one write each and in order.
    void passOn(Console& console) const;

private:
    std::string text_;
    std::vector<std::size_t> ends_;  ///< where each write ends in `text_`
};

}  // namespace tarnic
