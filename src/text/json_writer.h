#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnic::text {

/// Builds a JSON document, indented two spaces a level. Strings are taken as bytes:
/// well-formed UTF-8 passes through, control characters are escaped, and each byte
/// that begins no well-formed UTF-8 sequence becomes U+FFFD, so that any bytes give
/// valid JSON.
class JsonWriter {
public:
    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    /// The key of the next member of the current object.
    JsonWriter& key(std::string_view name);

    void string(std::string_view bytes);
    void number(std::int64_t value);
    void number(std::uint64_t value);
    void boolean(bool value);
    void null();

    /// The document; a line end follows it.
    std::string finish() { return text_ + "\n"; }

private:
    void open(char bracket);
    void close(char bracket);
    /// Starts a value: a comma and a line break inside containers, nothing behind a key.
    void beginValue();
    void newLine();
    void appendEscaped(std::string_view bytes);

    std::string text_;
    std::vector<bool> empty_;  ///< per open container: nothing in it yet
    bool afterKey_ = false;
};

}  // namespace tarnic::text
