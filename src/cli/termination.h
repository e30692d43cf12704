#pragma once

namespace tarnic::cli {

/// From here on, an interrupt, a termination request, a hang-up or a closed pipe
/// removes every temporary file and ends the program as that signal would have. Call
/// it first, before the program starts any thread.
void startTerminationWatch();

/// What the program returns from main: `status`, unless a termination signal came
/// first, which then ends the program instead.
int endProgram(int status);

/// Blocks the calling thread until the program ends: for a thread overtaken by the end.
[[noreturn]] void waitForTheEnd();

}  // namespace tarnic::cli
