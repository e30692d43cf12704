#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
