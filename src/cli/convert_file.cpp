#include "cli/convert_file.h"

#include <new>

#include "cli/file_stream.h"
#include "cli/platform.h"
#include "cli/temporary_file.h"
#include "driver/parallel_records.h"
#include "driver/record_loop.h"

namespace tarnic::cli {

namespace {

// Small enough to stay in the core's cache while the kernel copies into and out of
// them: with 1 MiB buffers the program spent three times as long in the kernel.
constexpr std::size_t FILE_BUFFER_BYTES = 64 << 10;

/// Closes a file when its owner goes.
class InputFile {
public:
    InputFile(const std::string& path, Inputs inputs)
        : file_(inputs == Inputs::RegularFile ? platform::openRegularForReading(path)
                                              : platform::openForReading(path)) {}
    ~InputFile() {
        if (file_ >= 0) platform::closeFile(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int file() const { return file_; }

private:
    int file_;
};

FileOutcome convert(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                    Threads threads, const std::function<void()>& onStarted, Inputs inputs) {
    const InputFile input(inputPath, inputs);
    if (input.file() == platform::NOT_REGULAR) return FileOutcome::NotRegular;
    if (input.file() == platform::NO_FILE) return FileOutcome::CannotOpen;
    FileSource source(input.file(), FILE_BUFFER_BYTES);
    if (!source.readAhead()) return FileOutcome::CannotOpen;
    // Renaming would fail only at the end, after the whole conversion.
    if (platform::isFolder(outputPath) || platform::nameTooLong(outputPath)) return FileOutcome::CannotCreate;
    TemporaryFile output(outputPath);
    if (output.file() == platform::NO_FILE) return FileOutcome::CannotCreate;
    FileSink sink(output.file(), FILE_BUFFER_BYTES);
    if (onStarted) onStarted();
    const ConversionResult result = threads == Threads::Two ? convertRecordsOnTwoThreads(source, sink, diagnostics)
                                                            : convertRecords(source, sink, diagnostics);
    switch (result) {
        case ConversionResult::Converted: break;
        case ConversionResult::InputFailed: return FileOutcome::CannotRead;
        case ConversionResult::OutputFailed: return FileOutcome::CannotWrite;
        case ConversionResult::MessageTooLarge: return FileOutcome::MessageTooLarge;
    }
    if (!sink.flush() || !output.commit()) return FileOutcome::CannotWrite;
    return FileOutcome::Converted;
}

}  // namespace

FileOutcome convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                            const std::function<void()>& onStarted, Threads threads, Inputs inputs) {
    try {
        return convert(inputPath, outputPath, diagnostics, threads, onStarted, inputs);
    } catch (const std::bad_alloc&) {
        // The temporary file is gone with the stack.
        return FileOutcome::OutOfMemory;
    }
}

}  // namespace tarnic::cli
