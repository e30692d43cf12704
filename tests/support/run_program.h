#pragma once

#include <string>

namespace tarnic::test {

struct ProgramRun {
    int status = -1;     ///< exit status; -1 when the command did not exit normally
    std::string output;  ///< standard output
};

/// Runs a shell command line and collects its standard output.
ProgramRun runShell(const std::string& command);

}  // namespace tarnic::test
