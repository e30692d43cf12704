#include "support/demo_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace tarnic::test {

Bytes readFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void writeFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes oneNopDemo(std::int32_t sequence) {
    Bytes demo;
    appendRecord(demo, sequence, {0x01});
    appendEndMarker(demo);
    return demo;
}

Bytes bytesOf(const PacketWriter& writer) {
    return Bytes(writer.data.begin(), writer.data.begin() + std::ptrdiff_t(pktWrittenBytes(writer)));
}

std::size_t bitLengthOf(const PacketWriter& writer) {
    return std::size_t(pktWrittenBits(writer));
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

std::string problemText(const examine::NewPayload& payload) {
    if (!payload.problem) return "";
    const examine::Problem& problem = *payload.problem;
    return "operation " + std::to_string(problem.operation) + " (code " + std::to_string(problem.code) + ") at bit " +
           std::to_string(problem.bit) + ": " + std::string(examine::problemText(problem.kind));
}

}  // namespace tarnic::test
