#include "support/demo_file.h"

#include <cstdio>

#include "bits/byte_order.h"

namespace tarnic::test {

Bytes bytesOf(const PacketWriter& writer) {
    return Bytes(writer.data.begin(), writer.data.begin() + writer.count);
}

std::size_t bitLengthOf(const PacketWriter& writer) {
    return std::size_t(pktWrittenBits(writer));
}

NewDemo splitNewDemo(const Bytes& demo) {
    NewDemo result;
    std::size_t at = 0;
    while (at < demo.size()) {
        if (demo.size() - at < 8) {
            result.wellFramed = false;
            break;
        }
        const auto sequence = std::int32_t(loadLittle32(&demo[at]));
        const std::uint32_t length = loadLittle32(&demo[at + 4]);
        if (sequence == -1 && length == 0xFFFFFFFFu) {
            result.endMarker = true;
            result.wellFramed = at + 8 == demo.size();
            break;
        }
        if (length < 4 || demo.size() - at - 8 < length) {
            result.wellFramed = false;
            break;
        }
        NewRecord record;
        record.sequence = sequence;
        record.messageHead = loadLittle32(&demo[at + 8]);
        record.payload.assign(demo.begin() + std::ptrdiff_t(at + 12), demo.begin() + std::ptrdiff_t(at + 8 + length));
        result.records.push_back(std::move(record));
        at += 8 + length;
    }
    return result;
}

std::string bitText(const Bytes& bytes, std::size_t bitCount) {
    std::string text;
    for (std::size_t bit = 0; bit < bitCount && bit / 8 < bytes.size(); ++bit) {
        if (bit > 0 && bit % 8 == 0) text += ' ';
        text += ((bytes[bit / 8] >> (bit % 8)) & 1) ? '1' : '0';
    }
    return text;
}

std::string hexText(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace tarnic::test
