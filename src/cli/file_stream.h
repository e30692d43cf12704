#pragma once

#include <cstdint>
#include <system_error>
#include <vector>

#include "cli/platform.h"
#include "tarnic/byte_stream.h"

namespace tarnic::cli {

/// Reads an open file through a buffer of its own, so records of a few bytes cost no
/// system call each; the caller keeps the file open meanwhile.
class FileSource final : public ByteSource {
public:
    FileSource(int file, std::size_t bufferBytes);
    std::size_t read(std::uint8_t* into, std::size_t count) override;
    /// The next `count` bytes where the buffer already holds them all.
    const std::uint8_t* borrow(std::size_t count) override;
    bool failed() const override { return failed_; }
    /// Reads the first block ahead; false when the file cannot be read at all (a
    /// folder, a failing device), which then counts as a file that cannot be opened.
    bool readAhead();
    /// Why reading failed, once it has.
    std::error_code error() const { return error_; }

private:
    bool refill();

    int file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t next_ = 0;  ///< first unread byte in the buffer
    std::size_t end_ = 0;   ///< one past the last byte in the buffer
    bool atEnd_ = false;
    bool failed_ = false;
    std::error_code error_;
};

/// Reads a regular file mapped into memory: its records are converted where they lie,
/// without a copy. Once a page has been found cut off from the file (another process
/// cut it short), reading fails.
class MappedSource final : public ByteSource {
public:
    /// Takes the mapping, unmapped when the source goes.
    explicit MappedSource(platform::MappedFile mapping) : mapping_(mapping) {}
    ~MappedSource() override { platform::unmap(mapping_); }
    MappedSource(const MappedSource&) = delete;
    MappedSource& operator=(const MappedSource&) = delete;
    std::size_t read(std::uint8_t* into, std::size_t count) override;
    const std::uint8_t* borrow(std::size_t count) override;
    std::span<const std::uint8_t> borrowRest() override;
    bool failed() const override { return platform::mappingFaulted(mapping_); }
    /// Why reading failed, once it has.
    std::error_code error() const { return std::make_error_code(std::errc::io_error); }

private:
    platform::MappedFile mapping_;
    std::size_t next_ = 0;
};

/// Writes an open file through a buffer of its own; the caller keeps the file open
/// meanwhile and calls `flush` before closing it.
class FileSink final : public ByteSink {
public:
    FileSink(int file, std::size_t bufferBytes);
    bool write(const std::uint8_t* bytes, std::size_t count) override;
    /// Writes what the buffer holds; false when any write has failed.
    bool flush();
    /// Why writing failed, once it has.
    std::error_code error() const { return error_; }

private:
    bool writeThrough(const std::uint8_t* bytes, std::size_t count);

    int file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    std::error_code error_;
};

}  // namespace tarnic::cli
