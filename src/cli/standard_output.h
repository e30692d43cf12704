#pragma once

#include <cstdio>
#include <string_view>

#include "common/console.h"

namespace tarnic::cli {

/// The program's console: every message goes to standard output, as it comes.
class StandardOutput final : public Console {
public:
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
};

}  // namespace tarnic::cli
