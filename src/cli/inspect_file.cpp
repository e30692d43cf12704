#include "cli/inspect_file.h"

#include <cstdio>
#include <new>
#include <vector>

#include "cli/file_stream.h"

namespace tarnic::cli {

namespace {

constexpr std::size_t FILE_BUFFER_BYTES = 64 << 10;

}  // namespace

FileInspection inspectFile(const std::string& path) {
    const std::optional<inspect::Protocol> protocol = inspect::protocolOfName(path);
    if (!protocol) {
        FileInspection inspection;
        inspection.path = path;
        inspection.error = "not a demo name: the extension must be .dm3 or .dm_48";
        return inspection;
    }
    return inspectFile(path, *protocol);
}

FileInspection inspectFile(const std::string& path, inspect::Protocol protocol) {
    FileInspection inspection;
    inspection.path = path;
    inspection.protocol = protocol;
    // The buffer outlives the stream that uses it: the file closes before it goes.
    std::vector<char> buffer(FILE_BUFFER_BYTES);
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        inspection.error = "unable to open";
        return inspection;
    }
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    FileSource source(file.get());
    try {
        inspect::DemoReport report = inspect::inspectDemo(source, protocol);
        if (std::ferror(file.get())) {
            inspection.error = "read error";
        } else {
            inspection.report = std::move(report);
        }
    } catch (const std::bad_alloc&) {
        inspection.error = "out of memory";
    }
    return inspection;
}

}  // namespace tarnic::cli
