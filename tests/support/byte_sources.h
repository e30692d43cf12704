#pragma once

// Sources and sinks that behave as files do: handing out bytes only by copying them,
// or failing part-way as a failing disk does.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tarnic/byte_stream.h"

namespace tarnic::test {

/// Hands out bytes only by copying them, as a file does.
class CopyingSource final : public ByteSource {
public:
    explicit CopyingSource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override { return bytes_.read(into, count); }

private:
    MemorySource bytes_;
};

/// Hands out its first `good` bytes, then fails.
class FailingSource final : public ByteSource {
public:
    FailingSource(const std::vector<std::uint8_t>& bytes, std::size_t good)
        : good_(bytes.begin(), bytes.begin() + std::ptrdiff_t(good)) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const std::size_t got = source_.read(into, count);
        failed_ = failed_ || got < count;
        return got;
    }
    bool failed() const override { return failed_; }

private:
    std::vector<std::uint8_t> good_;
    MemorySource source_{good_};
    bool failed_ = false;
};

/// Takes its first `room` bytes, then refuses every write, as a full disk does.
class FullSink final : public ByteSink {
public:
    FullSink(std::vector<std::uint8_t>& bytes, std::size_t room) : bytes_(bytes), room_(room) {}
    bool write(const std::uint8_t* bytes, std::size_t count) override {
        const std::size_t taken = std::min(count, room_ - std::min(room_, bytes_.size()));
        bytes_.insert(bytes_.end(), bytes, bytes + taken);
        return taken == count;
    }

private:
    std::vector<std::uint8_t>& bytes_;
    std::size_t room_;
};

}  // namespace tarnic::test
