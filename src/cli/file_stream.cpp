#include "cli/file_stream.h"

namespace tarnic::cli {

std::size_t FileSource::read(std::uint8_t* into, std::size_t count) {
    return std::fread(into, 1, count, file_);
}

bool FileSink::write(const std::uint8_t* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, file_) == count;
}

}  // namespace tarnic::cli
