#pragma once

#include <functional>
#include <string>

#include "common/console.h"

namespace tarnic::cli {

/// How converting one demo file ended.
enum class FileOutcome { Converted, CannotOpen, CannotCreate, CannotRead, CannotWrite, OutOfMemory, MessageTooLarge };

/// Converts the demo at `inputPath` into `outputPath`, whole or not at all; the
/// conversion's diagnostics go to `diagnostics`, and `onStarted` runs once both files
/// are open. Safe to call from several threads at once.
FileOutcome convertDemoFile(const std::string& inputPath, const std::string& outputPath, Console& diagnostics,
                            const std::function<void()>& onStarted = {});

}  // namespace tarnic::cli
