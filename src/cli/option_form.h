#pragma once

#include <string>
#include <vector>

namespace tarnic::cli {

/// Runs the program's option form (see isOptionForm) and returns its exit status.
int runOptionForm(const std::vector<std::string>& arguments);

}  // namespace tarnic::cli
