#include "cli/termination.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/platform.h"
#include "cli/temporary_file.h"

namespace tarnic::cli {
namespace {

/// Whichever comes first, main returning or a termination signal, decides how the
/// program ends.
enum ProgramState : int { RUNNING, RETURNING, TERMINATING };
std::atomic<int> programState{RUNNING};

void onTermination(platform::Termination) {
    int state = RUNNING;
    if (!programState.compare_exchange_strong(state, TERMINATING)) {
        // Another signal is ending the program already; or main has returned, every
        // temporary file gone with its owner, and the signal ends the program as it is.
        if (state == TERMINATING) waitForTheEnd();
        return;
    }
    closeTemporaryFiles();
}

}  // namespace

void startTerminationWatch() { platform::watchTermination(onTermination); }

int endProgram(int status) {
    int state = RUNNING;
    if (!programState.compare_exchange_strong(state, RETURNING)) waitForTheEnd();
    return status;
}

void waitForTheEnd() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace tarnic::cli
