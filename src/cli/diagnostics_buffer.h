#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include <memory>
#include "common/console.h"

namespace tarnic::cli {

/// Takes one file's diagnostics while it converts: counts them, and keeps their text
/// when asked to, so that it can be printed after the file's line. Text beyond a
/// small amount goes to a temporary file, so a badly damaged demo's thousands of
/// warnings do not pile up in memory while earlier files are still converting.
class DiagnosticsBuffer final : public Console {
public:
    explicit DiagnosticsBuffer(bool keepText) : keepText_(keepText) {}

    void write(std::string_view text) override;

    /// Diagnostics written: lines, and a last one left without a line end.
    std::size_t count() const { return lines_ + (openLine_ ? 1 : 0); }

    /// Writes the kept text to `out`, each line after `indent`.
    void printTo(std::FILE* out, std::string_view indent);

private:
    void keep(std::string_view text);

    bool keepText_;
    std::size_t lines_ = 0;
    bool openLine_ = false;
    std::string memory_;
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> spill_;
    bool spillFailed_ = false;
};

}  // namespace tarnic::cli
