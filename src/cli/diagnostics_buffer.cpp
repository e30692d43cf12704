#include "cli/diagnostics_buffer.h"

#include <algorithm>

#include "cli/platform.h"

namespace tarnic::cli {
namespace {

constexpr std::size_t MAX_TEXT_IN_MEMORY = 16 << 10;

/// Writes `text`, starting each line with `indent`; `atLineStart` carries across calls.
void writeIndented(std::FILE* out, std::string_view text, std::string_view indent, bool& atLineStart) {
    while (!text.empty()) {
        if (atLineStart) std::fwrite(indent.data(), 1, indent.size(), out);
        const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
        std::fwrite(text.data(), 1, end, out);
        atLineStart = text[end - 1] == '\n';
        text.remove_prefix(end);
    }
}

}  // namespace

void DiagnosticsBuffer::write(std::string_view text) {
    if (text.empty()) return;
    ++messages_;
    if (keepText_) keep(text);
}

void DiagnosticsBuffer::keep(std::string_view text) {
    if (!spill_ && !spillFailed_ && memory_.size() + text.size() > MAX_TEXT_IN_MEMORY) {
        spill_.reset(platform::openScratchFile());
        spillFailed_ = !spill_;
    }
    if (spill_) {
        if (std::fwrite(text.data(), 1, text.size(), spill_.get()) != text.size()) spillFailed_ = true;
    } else if (!spillFailed_) {
        memory_ += text;
    }
}

void DiagnosticsBuffer::printTo(std::FILE* out, std::string_view indent) {
    bool atLineStart = true;
    writeIndented(out, memory_, indent, atLineStart);
    if (spill_) {
        std::rewind(spill_.get());
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, spill_.get())) > 0) {
            writeIndented(out, std::string_view(chunk, got), indent, atLineStart);
        }
    }
    if (!atLineStart) std::fputc('\n', out);
    if (spillFailed_) std::fprintf(out, "%s(further diagnostics lost: no room for a temporary file)\n",
                                   std::string(indent).c_str());
}

}  // namespace tarnic::cli
