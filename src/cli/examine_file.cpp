#include "cli/examine_file.h"

#include <new>

#include "cli/file_stream.h"
#include "cli/platform.h"

namespace tarnic::cli {

namespace {

constexpr std::size_t FILE_BUFFER_BYTES = 64 << 10;

}  // namespace

FileExamination examineFile(const std::string& path) {
    const std::optional<examine::Protocol> protocol = examine::protocolOfName(path);
    if (!protocol) {
        FileExamination examination;
        examination.path = path;
        examination.error = "not a demo name: the extension must be .dm3 or .dm_48";
        return examination;
    }
    return examineFile(path, *protocol);
}

FileExamination examineFile(const std::string& path, examine::Protocol protocol) {
    FileExamination examination;
    examination.path = path;
    examination.protocol = protocol;
    // Opened without waiting: a pipe or a device by a demo's name would never end.
    const int file = platform::openRegularForReading(path);
    if (file == platform::NOT_REGULAR) {
        examination.error = "not a regular file";
        return examination;
    }
    if (file == platform::NO_FILE) {
        examination.error = "unable to open";
        return examination;
    }
    try {
        FileSource source(file, FILE_BUFFER_BYTES);
        if (!source.readAhead()) {
            examination.error = "unable to read";
        } else {
            examine::DemoReport report = examine::examineDemo(source, protocol);
            if (source.failed()) {
                examination.error = "read error";
            } else {
                examination.report = std::move(report);
            }
        }
    } catch (const std::bad_alloc&) {
        examination.error = "out of memory";
    }
    platform::closeFile(file);
    return examination;
}

}  // namespace tarnic::cli
