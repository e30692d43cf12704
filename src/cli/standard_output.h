#pragma once

#include <cstdio>
#include <string_view>

#include "tarnic/console.h"

namespace tarnic::cli {

/// The program's console: every message goes to standard output, as it comes.
class StandardOutput final : public Console {
public:
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
};

/// Flushes standard output where it is the product (reports, JSON) and tells whether
/// everything written reached it; when not, says why on standard error.
bool finishStandardOutput();

/// The exit status of a form whose product is standard output: `status`, or 1 when
/// that output did not reach its reader whole and `status` says nothing worse.
int withStandardOutputChecked(int status);

}  // namespace tarnic::cli
