#include "cli/file_stream.h"

#include <algorithm>
#include <cstring>

#include "cli/platform.h"

namespace tarnic::cli {

FileSource::FileSource(int file, std::size_t bufferBytes) : file_(file), buffer_(bufferBytes) {}

bool FileSource::refill() {
    next_ = end_ = 0;
    if (atEnd_ || failed_) return false;
    const long long got = platform::readSome(file_, buffer_.data(), buffer_.size());
    if (got < 0) {
        failed_ = true;
        error_ = platform::lastError();
    }
    if (got == 0) atEnd_ = true;
    if (got <= 0) return false;
    end_ = std::size_t(got);
    return true;
}

bool FileSource::readAhead() {
    refill();
    return !failed_;
}

std::size_t FileSource::read(std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        if (next_ == end_) {
            // A large read skips the buffer: one copy fewer.
            if (count - done >= buffer_.size() && !atEnd_ && !failed_) {
                const long long got = platform::readSome(file_, into + done, count - done);
                if (got < 0) {
                    failed_ = true;
                    error_ = platform::lastError();
                }
                if (got == 0) atEnd_ = true;
                if (got <= 0) break;
                done += std::size_t(got);
                continue;
            }
            if (!refill()) break;
        }
        const std::size_t chunk = std::min(count - done, end_ - next_);
        std::memcpy(into + done, buffer_.data() + next_, chunk);
        next_ += chunk;
        done += chunk;
    }
    return done;
}

const std::uint8_t* FileSource::borrow(std::size_t count) {
    // Most records lie inside one buffer's worth of the file; the rest are copied.
    if (count > end_ - next_) return nullptr;
    const std::uint8_t* bytes = buffer_.data() + next_;
    next_ += count;
    return bytes;
}

std::size_t MappedSource::read(std::uint8_t* into, std::size_t count) {
    if (failed()) return 0;
    count = std::min(count, mapping_.size - next_);
    std::memcpy(into, mapping_.bytes + next_, count);
    // Bytes copied from a page cut off from the file are no part of it.
    if (failed()) return 0;
    next_ += count;
    return count;
}

const std::uint8_t* MappedSource::borrow(std::size_t count) {
    if (count > mapping_.size - next_ || failed()) return nullptr;
    const std::uint8_t* bytes = mapping_.bytes + next_;
    next_ += count;
    return bytes;
}

std::span<const std::uint8_t> MappedSource::borrowRest() {
    const std::span<const std::uint8_t> rest(mapping_.bytes + next_, mapping_.size - next_);
    next_ = mapping_.size;
    return rest;
}

FileSink::FileSink(int file, std::size_t bufferBytes) : file_(file), buffer_(bufferBytes) {}

bool FileSink::write(const std::uint8_t* bytes, std::size_t count) {
    if (failed_) return false;
    if (count == 0) return true;  // an empty message's bytes may be a null pointer
    if (count > buffer_.size() - used_) {
        if (!flush()) return false;
        // A large write skips the buffer: one copy fewer.
        if (count >= buffer_.size()) return writeThrough(bytes, count);
    }
    std::memcpy(buffer_.data() + used_, bytes, count);
    used_ += count;
    return true;
}

bool FileSink::flush() {
    if (!failed_ && used_ > 0) writeThrough(buffer_.data(), used_);
    used_ = 0;
    return !failed_;
}

bool FileSink::writeThrough(const std::uint8_t* bytes, std::size_t count) {
    if (platform::writeAll(file_, bytes, count)) return true;
    failed_ = true;
    error_ = platform::lastError();
    return false;
}

}  // namespace tarnic::cli
