#include "tarnic/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace tarnic {

std::size_t MemorySource::read(std::uint8_t* into, std::size_t count) {
    const std::size_t available = std::min(count, bytes_.size() - position_);
    if (available > 0) std::memcpy(into, bytes_.data() + position_, available);
    position_ += available;
    return available;
}

const std::uint8_t* MemorySource::borrow(std::size_t count) {
    if (count > bytes_.size() - position_) return nullptr;
    const std::uint8_t* bytes = bytes_.data() + position_;
    position_ += count;
    return bytes;
}

std::span<const std::uint8_t> MemorySource::borrowRest() {
    const std::span<const std::uint8_t> rest = bytes_.subspan(position_);
    position_ = bytes_.size();
    return rest;
}

bool MemorySink::write(const std::uint8_t* bytes, std::size_t count) {
    bytes_.insert(bytes_.end(), bytes, bytes + count);
    return true;
}

}  // namespace tarnic
