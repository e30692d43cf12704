#pragma once

#include <cstdio>
#include <memory>

#include "driver/byte_stream.h"

namespace tarnic::cli {

/// Closes a file when its owner goes.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

/// Reads a file opened in binary mode; the caller keeps it open meanwhile.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : file_(file) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override;

private:
    std::FILE* file_;
};

/// Writes a file opened in binary mode; the caller keeps it open meanwhile.
class FileSink final : public ByteSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    bool write(const std::uint8_t* bytes, std::size_t count) override;

private:
    std::FILE* file_;
};

}  // namespace tarnic::cli
