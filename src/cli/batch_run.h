#pragma once

#include "cli/options.h"

namespace tarnic::cli {

/// Converts every input of `--batch`, printing a line for each in path order and a
/// summary; returns the exit status: 0 when nothing failed, 1 otherwise.
int runBatch(const Options& options);

}  // namespace tarnic::cli
