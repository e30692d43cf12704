#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include <memory>
#include "tarnic/console.h"

namespace tarnic::cli {

/// Takes one file's diagnostics while it converts: counts them, and keeps their text
/// when asked to, so that it can be printed after the file's line. Text beyond a
/// small amount goes to a temporary file, so a badly damaged demo's thousands of
/// warnings do not pile up in memory while earlier files are still converting.
class DiagnosticsBuffer final : public Console {
public:
    explicit DiagnosticsBuffer(bool keepText) : keepText_(keepText) {}

    void write(std::string_view text) override;

    /// Diagnostics written: one a message, as --info counts them, whether or not it
    /// ends its line.
    std::size_t count() const { return messages_; }

    /// Writes the kept text to `out`, each line after `indent`.
    void printTo(std::FILE* out, std::string_view indent);

private:
    void keep(std::string_view text);

    bool keepText_;
    std::size_t messages_ = 0;
    std::string memory_;
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> spill_;
    bool spillFailed_ = false;
};

}  // namespace tarnic::cli
