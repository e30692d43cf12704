#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnic::test {

struct RunResult {
    int status = -1;
    std::string output;
};

/// Runs a shell command line and collects its standard output.
inline RunResult runShell(const std::string& command) {
    RunResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

/// Which of the program's streams a run collects.
enum class Streams { OutputOnly, OutputAndErrors };

/// Runs the real program in `folder` with the given arguments and collects its
/// standard output (and its standard error after it, when asked).
inline RunResult runTarnic(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                           Streams streams = Streams::OutputOnly) {
    std::string command = "cd '" + folder.string() + "' && '" TARNIC_EXECUTABLE "'";
    for (const auto& argument : arguments) command += " '" + argument + "'";
    if (streams == Streams::OutputAndErrors) command += " 2>&1";
    return runShell(command);
}

}  // namespace tarnic::test
