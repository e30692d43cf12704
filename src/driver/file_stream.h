#pragma once

#include <cstdio>

#include "driver/byte_stream.h"

namespace tarnic {

/// Reads a file opened in binary mode; does not own it.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : file_(file) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override;

private:
    std::FILE* file_;
};

/// Writes a file opened in binary mode; does not own it.
class FileSink final : public ByteSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    bool write(const std::uint8_t* bytes, std::size_t count) override;

private:
    std::FILE* file_;
};

}  // namespace tarnic
