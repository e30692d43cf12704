#include "driver/record_framing.h"

#include <algorithm>

namespace tarnic {

namespace {

constexpr std::size_t FIRST_PAYLOAD_CHUNK = 64 * 1024;

}  // namespace

std::size_t readPayloadBytes(ByteSource& input, std::vector<std::uint8_t>& buffer, std::uint32_t length) {
    std::size_t received = 0;
    while (received < length) {
        const std::size_t chunk = std::min<std::size_t>(length - received, std::max(FIRST_PAYLOAD_CHUNK, received));
        if (buffer.size() < received + chunk) buffer.resize(received + chunk);
        const std::size_t got = input.read(buffer.data() + received, chunk);
        received += got;
        if (got < chunk) break;
    }
    return received;
}

}  // namespace tarnic
