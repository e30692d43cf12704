#pragma once

#include "cli/options.h"

namespace tarnic::cli {

/// Runs --verify: a line for each file, or with --json one document. Returns 0 when
/// every file is well-formed, 2 when a name is not a demo's, else 1.
int runVerify(const Options& options);

/// Runs --info: a summary of each file, or with --json one document. Returns 0 when
/// every file was read, 2 when a name is not a demo's, else 1.
int runInfo(const Options& options);

}  // namespace tarnic::cli
