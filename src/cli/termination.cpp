#include "cli/termination.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "cli/platform.h"
#include "cli/temporary_file.h"

namespace tarnic::cli {
namespace {

/// Whichever comes first, main returning or a termination signal, decides how the
/// program ends.
enum ProgramState : int { RUNNING, RETURNING, TERMINATING };
std::atomic<int> programState{RUNNING};

std::mutex noticeLock;
const std::function<void()>* notice = nullptr;

void onTermination(platform::Termination why) {
    int state = RUNNING;
    if (!programState.compare_exchange_strong(state, TERMINATING)) {
        // Another signal is ending the program already; or main has returned, every
        // temporary file gone with its owner, and the signal ends the program as it is.
        if (state == TERMINATING) waitForTheEnd();
        return;
    }
    closeTemporaryFiles();
    if (why == platform::Termination::Interrupted) {
        noticeLock.lock();  // kept: the notice's owner waits for the end
        if (notice) (*notice)();
    }
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

InterruptionNotice::InterruptionNotice(std::function<void()> say) : say_(std::move(say)) {
    const std::lock_guard hold(noticeLock);
    notice = &say_;
}

InterruptionNotice::~InterruptionNotice() {
    const std::lock_guard hold(noticeLock);
    notice = nullptr;
}

}  // namespace tarnic::cli
