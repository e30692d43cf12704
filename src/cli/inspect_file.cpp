#include "cli/inspect_file.h"

#include <new>

#include "cli/file_stream.h"
#include "cli/platform.h"

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
    const int file = platform::openForReading(path);
    if (file == platform::NO_FILE) {
        inspection.error = "unable to open";
        return inspection;
    }
    try {
        FileSource source(file, FILE_BUFFER_BYTES);
        if (!source.readAhead()) {
            inspection.error = "unable to read";
        } else {
            inspect::DemoReport report = inspect::inspectDemo(source, protocol);
            if (source.failed()) {
                inspection.error = "read error";
            } else {
                inspection.report = std::move(report);
            }
        }
    } catch (const std::bad_alloc&) {
        inspection.error = "out of memory";
    }
    platform::closeFile(file);
    return inspection;
}

}  // namespace tarnic::cli
