#include "text/json_writer.h"

#include <cstdio>

#include "text/utf8.h"

namespace tarnic::text {

namespace {

constexpr std::string_view REPLACEMENT_CHARACTER = "\\ufffd";

}  // namespace

JsonWriter& JsonWriter::key(std::string_view name) {
    beginValue();
    appendEscaped(name);
    text_ += ": ";
    afterKey_ = true;
    return *this;
}

void JsonWriter::string(std::string_view bytes) {
    beginValue();
    appendEscaped(bytes);
}

void JsonWriter::number(std::int64_t value) {
    beginValue();
    text_ += std::to_string(value);
}

void JsonWriter::number(std::uint64_t value) {
    beginValue();
    text_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
    beginValue();
    text_ += value ? "true" : "false";
}

void JsonWriter::null() {
    beginValue();
    text_ += "null";
}

void JsonWriter::open(char bracket) {
    beginValue();
    text_ += bracket;
    empty_.push_back(true);
}

void JsonWriter::close(char bracket) {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) newLine();
    text_ += bracket;
}

void JsonWriter::beginValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;
    if (!empty_.back()) text_ += ',';
    empty_.back() = false;
    newLine();
}

void JsonWriter::newLine() {
    text_ += '\n';
    text_.append(2 * empty_.size(), ' ');
}

void JsonWriter::appendEscaped(std::string_view bytes) {
    text_ += '"';
    for (std::size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = utf8SequenceAt(bytes, at);
        if (length == 0) {
            text_ += REPLACEMENT_CHARACTER;
            ++at;
            continue;
        }
        if (length > 1) {
            text_.append(bytes.substr(at, length));
        } else if (byte == '"' || byte == '\\') {
            text_ += '\\';
            text_ += char(byte);
        } else if (byte == '\n') {
            text_ += "\\n";
        } else if (byte == '\t') {
            text_ += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            text_ += escaped;
        } else {
            text_ += char(byte);
        }
        at += length;
    }
    text_ += '"';
}

}  // namespace tarnic::text
