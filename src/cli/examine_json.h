#pragma once

#include <string>
#include <vector>

#include "cli/examine_file.h"

namespace tarnic::cli {

/// What --json prints: an array with one object per file, facts included for --info.
std::string examinationJson(const std::vector<FileExamination>& files, bool withFacts);

}  // namespace tarnic::cli
