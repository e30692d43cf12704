#pragma once

#include <string>
#include <string_view>

namespace tarnic {

/// Where the conversion's messages go. The program prints them on standard
/// output; the in-memory conversion collects them. Messages keep their exact
/// text, so one that ends without a line end runs on into the next.
class Console {
public:
    virtual ~Console() = default;
    virtual void write(std::string_view text) = 0;

    /// Formats like printf and writes the result.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

/// Collects everything written, in order.
class CollectingConsole final : public Console {
public:
    void write(std::string_view text) override { text_ += text; }
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

private:
    std::string text_;
};

}  // namespace tarnic
