#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "driver/record_loop.h"
#include "tarnic/console.h"

namespace tarnic::cli {

/// How converting one file ended.
enum class FileOutcome {
    Converted,        ///< the output holds the whole conversion
    CannotOpen,       ///< the input cannot be opened or read at all (a folder, a failing device)
    CannotCreate,     ///< the output cannot be created: its folder refuses a new file, or a folder has its name
    CannotRead,       ///< reading the input failed part-way
    CannotWrite,      ///< writing, closing or naming the output failed
    OutOfMemory,      ///< memory ran out during the conversion
    MessageTooLarge,  ///< a converted message outgrew what an output record can frame
    NotRegular,       ///< the input is not a regular file, where only one is taken
    Refused,          ///< the whole output failed the caller's check and never took its name
};

/// The inputs a conversion takes: any file, or regular files only, opened without
/// waiting so that a pipe or a device met in their place cannot stall the caller.
enum class Inputs { AnyFile, RegularFile };

/// Threads one conversion may use: a batch keeps every core busy with files of its own.
enum class Threads { One, Two };

/// What a conversion may be asked to do besides converting.
struct FileConversionOptions {
    /// Runs once both files are open, before the first record.
    std::function<void()> onStarted;
    /// The conversion's records are shared between these; with an observer, or for a
    /// regular file too small for a second thread to pay, one.
    Threads threads = Threads::One;
    /// Asked where two threads were chosen and would pay, just before converting:
    /// whether a processor is free for the second; one thread where not. None: always.
    std::function<bool()> processorFreeForSecond;
    /// Which inputs are taken.
    Inputs inputs = Inputs::AnyFile;
    /// Told about every record and how the records ended.
    RecordObserver* observer = nullptr;
    /// Checks the whole output, closed under its temporary name, before it takes the
    /// final one: why it is refused, or nothing when it may take the name.
    std::function<std::string(const std::string& temporaryPath)> check;
};

/// How converting one file ended, and why where it failed.
struct FileConversion {
    FileOutcome outcome = FileOutcome::Converted;
    std::error_code error;  ///< the system's reason for a failed open, read, create or write, where it gave one
    std::string refusal;    ///< Refused: what the check said
};

/// Converts the old demo at `inputPath` into a new file at `outputPath`, written
/// safely: into a temporary file beside it, given the output name in one atomic
/// rename once whole. Unless the outcome is Converted, `outputPath` keeps whatever it
/// held and no temporary file remains. The conversion's diagnostics go to
/// `diagnostics`. Safe to call from several threads at once on different files.
FileConversion convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                               const FileConversionOptions& options = {});

/// The same from a stream already open (a pack's member): `options.inputs` does not
/// apply, and a failed read gives CannotRead with no system reason.
FileConversion convertDemoStream(ByteSource& input, const std::string& outputPath, Console& diagnostics,
                                 const FileConversionOptions& options = {});

}  // namespace tarnic::cli
