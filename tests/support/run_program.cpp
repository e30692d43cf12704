#include "support/run_program.h"

#include <sys/wait.h>

#include <cstdio>

namespace tarnic::test {

ProgramRun runShell(const std::string& command) {
    ProgramRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace tarnic::test
