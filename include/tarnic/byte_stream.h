#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnic {

/// Where demo bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    /// Reads up to `count` bytes; fewer only at the end of the input or on a read error.
    virtual std::size_t read(std::uint8_t* into, std::size_t count) = 0;
    /// True once a read has failed: a short read then is no end of the input.
    virtual bool failed() const { return false; }
    /// The next `count` bytes where they already lie in memory, consumed as if read and
    /// valid until the next read or borrow; nullptr, consuming nothing, where the source
    /// would have to copy them or fewer remain. Saves copying a payload the source holds.
    virtual const std::uint8_t* borrow(std::size_t /*count*/) { return nullptr; }
    /// Everything left of the input where it lies in memory for as long as the source
    /// lives, consumed as if read; empty, consuming nothing, where it does not.
    virtual std::span<const std::uint8_t> borrowRest() { return {}; }
};

/// Where demo bytes go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    /// Writes all `count` bytes; false when they could not be written.
    virtual bool write(const std::uint8_t* bytes, std::size_t count) = 0;
};

/// Reads from bytes held in memory.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override;
    const std::uint8_t* borrow(std::size_t count) override;
    std::span<const std::uint8_t> borrowRest() override;
    /// The bytes not read yet, left where they are.
    std::span<const std::uint8_t> unread() const { return bytes_.subspan(position_); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

/// Appends to a byte vector.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool write(const std::uint8_t* bytes, std::size_t count) override;

private:
    std::vector<std::uint8_t>& bytes_;
};

}  // namespace tarnic
