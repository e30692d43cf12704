#include "cli/convert_file.h"

#include <new>
#include <optional>

#include "cli/file_stream.h"
#include "cli/platform.h"
#include "cli/temporary_file.h"
#include "driver/record_loop.h"
#include "tarnic/convert.h"

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

/// Passes the conversion's messages on until its mapped input is found cut short by
/// another process: what follows comes from no part of the file.
class UntilInputCut final : public Console {
public:
    UntilInputCut(Console& to, const MappedSource& input) : to_(to), input_(input) {}
    void write(std::string_view text) override {
        if (!input_.failed()) to_.write(text);
    }

private:
    Console& to_;
    const MappedSource& input_;
};

FileConversion failed(FileOutcome outcome, std::error_code error = {}) { return {outcome, error, {}}; }

/// Converts `source` into `outputPath`; `mapped`, when the source is a mapped file,
/// is asked whether another process cut the file short meanwhile.
FileConversion convertFrom(ByteSource& source, const std::function<std::error_code()>& readError,
                           const std::string& outputPath, Console& diagnostics, const FileConversionOptions& options,
                           const MappedSource* mapped = nullptr);

FileConversion convert(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                       const FileConversionOptions& options) {
    const InputFile input(inputPath, options.inputs);
    if (input.file() == platform::NOT_REGULAR) return failed(FileOutcome::NotRegular);
    if (input.file() == platform::NO_FILE) return failed(FileOutcome::CannotOpen, platform::lastError());
    FileSource source(input.file(), FILE_BUFFER_BYTES);
    if (!source.readAhead()) return failed(FileOutcome::CannotOpen, source.error());
    // A regular file is converted where the system maps it, without copies; read where
    // it cannot be mapped. One too small for a second thread to pay is converted on one.
    std::optional<MappedSource> mapped;
    FileConversionOptions chosen = options;
    if (const auto size = platform::regularFileSize(input.file())) {
        if (*size < TWO_THREADS_FROM_BYTES) chosen.threads = Threads::One;
        const platform::MappedFile mapping = platform::mapForReading(input.file(), *size);
        if (mapping.bytes != nullptr) mapped.emplace(mapping);
    }
    if (!mapped) return convertFrom(source, [&source] { return source.error(); }, outputPath, diagnostics, chosen);
    UntilInputCut untilCut(diagnostics, *mapped);
    return convertFrom(*mapped, [&mapped] { return mapped->error(); }, outputPath, untilCut, chosen, &*mapped);
}

FileConversion convertFrom(ByteSource& source, const std::function<std::error_code()>& readError,
                           const std::string& outputPath, Console& diagnostics, const FileConversionOptions& options,
                           const MappedSource* mapped) {
    // Renaming would fail only at the end, after the whole conversion.
    if (platform::isFolder(outputPath)) {
        return failed(FileOutcome::CannotCreate, std::make_error_code(std::errc::is_a_directory));
    }
    if (platform::nameTooLong(outputPath)) {
        return failed(FileOutcome::CannotCreate, std::make_error_code(std::errc::filename_too_long));
    }
    TemporaryFile output(outputPath);
    if (output.file() == platform::NO_FILE) return failed(FileOutcome::CannotCreate, output.error());
    FileSink sink(output.file(), FILE_BUFFER_BYTES);
    if (options.onStarted) options.onStarted();
    ConversionResult result;
    if (options.observer) {
        ConversionState state(diagnostics);
        result = convertRecords(source, sink, state, options.observer);
    } else if (options.threads == Threads::Two &&
               (!options.processorFreeForSecond || options.processorFreeForSecond())) {
        result = convertRecordsOnTwoThreads(source, sink, diagnostics);
    } else {
        result = convertRecords(source, sink, diagnostics);
    }
    // Pages cut off from the file read as its end: the conversion ended well, but on
    // bytes the file no longer holds.
    if (mapped && mapped->failed()) return failed(FileOutcome::CannotRead, mapped->error());
    switch (result) {
        case ConversionResult::Converted: break;
        case ConversionResult::InputFailed: return failed(FileOutcome::CannotRead, readError());
        case ConversionResult::OutputFailed: return failed(FileOutcome::CannotWrite, sink.error());
        case ConversionResult::MessageTooLarge: return failed(FileOutcome::MessageTooLarge);
    }
    if (!sink.flush()) return failed(FileOutcome::CannotWrite, sink.error());
    if (!output.close()) return failed(FileOutcome::CannotWrite, output.error());
    if (options.check) {
        std::string refusal = options.check(output.path());
        if (!refusal.empty()) return {FileOutcome::Refused, {}, std::move(refusal)};
    }
    if (!output.commit()) return failed(FileOutcome::CannotWrite, output.error());
    return {};
}

}  // namespace

FileConversion convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                               const FileConversionOptions& options) {
    try {
        return convert(inputPath, outputPath, diagnostics, options);
    } catch (const std::bad_alloc&) {
        // The temporary file is gone with the stack.
        return failed(FileOutcome::OutOfMemory);
    }
}

FileConversion convertDemoStream(ByteSource& input, const std::string& outputPath, Console& diagnostics,
                                 const FileConversionOptions& options) {
    try {
        return convertFrom(input, [] { return std::error_code(); }, outputPath, diagnostics, options);
    } catch (const std::bad_alloc&) {
        return failed(FileOutcome::OutOfMemory);
    }
}

}  // namespace tarnic::cli
