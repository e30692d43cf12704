#pragma once

#include <string>
#include <vector>

#include "cli/inspect_file.h"

namespace tarnic::cli {

/// What --json prints: an array with one object per file, facts included for --info.
std::string inspectionJson(const std::vector<FileInspection>& files, bool withFacts);

}  // namespace tarnic::cli
