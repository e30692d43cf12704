// A stand-in until the safe-output conversion lands: a temporary file renamed over
// the output once written whole.

#include "cli/convert_file.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <new>

#include "cli/file_stream.h"
#include "driver/record_loop.h"

namespace tarnic::cli {

FileOutcome convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                            const std::function<void()>& onStarted) {
    static std::atomic<unsigned> counter{0};
    FileHandle input(std::fopen(inputPath.c_str(), "rb"));
    if (!input) return FileOutcome::CannotOpen;
    const std::string temporary = outputPath + ".tmp-" + std::to_string(counter++);
    FileHandle output(std::fopen(temporary.c_str(), "wb"));
    if (!output) return FileOutcome::CannotCreate;
    if (onStarted) onStarted();
    FileSource source(input.get());
    FileSink sink(output.get());
    ConversionResult result = ConversionResult::OutputFailed;
    FileOutcome outcome = FileOutcome::CannotWrite;
    try {
        result = convertRecords(source, sink, diagnostics);
        if (result == ConversionResult::Converted) outcome = FileOutcome::Converted;
        if (result == ConversionResult::MessageTooLarge) outcome = FileOutcome::MessageTooLarge;
    } catch (const std::bad_alloc&) {
        outcome = FileOutcome::OutOfMemory;
    }
    if (std::ferror(input.get())) outcome = FileOutcome::CannotRead;
    if (std::fclose(output.release()) != 0 && outcome == FileOutcome::Converted) outcome = FileOutcome::CannotWrite;
    std::error_code error;
    if (outcome == FileOutcome::Converted) std::filesystem::rename(temporary, outputPath, error);
    if (error) outcome = FileOutcome::CannotWrite;
    if (outcome != FileOutcome::Converted) std::remove(temporary.c_str());
    return outcome;
}

}  // namespace tarnic::cli
