#pragma once

#include <functional>
#include <string>

#include "common/console.h"

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
};

/// The inputs a conversion takes: any file, or regular files only, opened without
/// waiting so that a pipe or a device met in their place cannot stall the caller.
enum class Inputs { AnyFile, RegularFile };

/// Threads one conversion may use: a batch keeps every core busy with files of its own.
enum class Threads { One, Two };

/// Converts the old demo at `inputPath` into a new file at `outputPath`, written
/// safely: into a temporary file beside it, given the output name in one atomic
/// rename once whole. Unless the outcome is Converted, `outputPath` keeps whatever it
/// held and no temporary file remains. The conversion's diagnostics go to
/// `diagnostics`; `onStarted` runs once both files are open, before the first record.
/// The conversion's records are shared between `threads`. Safe to call from several
/// threads at once on different files.
FileOutcome convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                            const std::function<void()>& onStarted = {}, Threads threads = Threads::One,
                            Inputs inputs = Inputs::AnyFile);

}  // namespace tarnic::cli
