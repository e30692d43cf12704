#pragma once

#include "cli/options.h"

#include <string>

#include "cli/convert_file.h"

namespace tarnic::cli {

/// Why a conversion failed, in the single-file form's words, with the system's reason.
std::string describeConversion(const FileConversion& conversion);

/// Verifies a whole output under its temporary name: why it may not take its final
/// name, or nothing when it is well-formed.
std::string verifyWrittenOutput(const std::string& temporaryPath);

/// Converts every input of `--batch`, printing a line for each in path order and a
/// summary; returns the exit status: 0 when nothing failed, 1 otherwise.
int runBatch(const Options& options);

}  // namespace tarnic::cli
