#pragma once

#include <string>

namespace tarnic::cli {

/// The text of --help: every form and option, one line each.
std::string helpText();

/// The line of --version.
std::string versionLine();

}  // namespace tarnic::cli
