#pragma once

#include <functional>

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

/// While it lives, an interrupt, a termination request or a hang-up (not a closed
/// pipe) has `say` run once the temporary files are removed, just before the program
/// ends, on the thread that took the signal while the others go on.
class InterruptionNotice {
public:
    explicit InterruptionNotice(std::function<void()> say);
    /// Waits for the program's end when `say` is running.
    ~InterruptionNotice();
    InterruptionNotice(const InterruptionNotice&) = delete;
    InterruptionNotice& operator=(const InterruptionNotice&) = delete;

private:
    std::function<void()> say_;
};

}  // namespace tarnic::cli
