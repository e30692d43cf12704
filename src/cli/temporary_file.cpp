#include "cli/temporary_file.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "cli/platform.h"
#include "cli/termination.h"

namespace tarnic::cli {

namespace {

/// Keeps the temporary name within the 255 bytes most file systems allow a name.
constexpr std::size_t MAX_KEPT_NAME_BYTES = 200;
constexpr int MAX_NAME_ATTEMPTS = 8;

// The temporary files, for the cleanup on a termination signal to remove. A slot goes
// FREE -> CREATING (its owner creates the file) -> LIVE -> FREE (its owner has renamed
// or removed it); the cleanup takes a LIVE slot to CLEANING and never gives it back, so
// no name is freed while the cleanup reads it, and the owner waits for the end.
enum SlotState : int { FREE, CREATING, LIVE, CLEANING };
constexpr std::size_t SLOT_COUNT = 1024;

struct Slot {
    std::atomic<int> state{FREE};
    const char* path = nullptr;
};
std::array<Slot, SLOT_COUNT> slots;
std::atomic<unsigned long> namesGiven{0};
/// Set once the cleanup starts: no temporary file is created after it.
std::atomic<bool> closed{false};

/// A slot held for a file about to be created; -1 when every slot is taken. Once the
/// files are closed, waits for the end instead.
int claimSlot() {
    for (std::size_t i = 0; i < SLOT_COUNT; ++i) {
        int expected = FREE;
        if (!slots[i].state.compare_exchange_strong(expected, CREATING)) continue;
        // The cleanup sets `closed` before it looks at the slots, this looks at it after
        // taking one: either the cleanup waits for this file, or none is created.
        if (closed.load()) {
            slots[i].state.store(FREE);
            waitForTheEnd();
        }
        return int(i);
    }
    if (closed.load()) waitForTheEnd();
    return -1;
}

/// Hands the file, once created, to the cleanup.
void publishSlot(int index, const char* path) {
    slots[std::size_t(index)].path = path;
    slots[std::size_t(index)].state.store(LIVE);
}

void releaseSlot(int index) {
    int expected = LIVE;
    // CLEANING: the cleanup has the name and the program is ending.
    if (!slots[std::size_t(index)].state.compare_exchange_strong(expected, FREE)) waitForTheEnd();
}

/// How many bytes of `name` to keep: at most `limit`, never splitting a UTF-8 character.
std::size_t keptBytes(const std::string& name, std::size_t from, std::size_t limit) {
    if (name.size() - from <= limit) return name.size() - from;
    std::size_t kept = limit;
    while (kept > 0 && (std::uint8_t(name[from + kept]) & 0xC0) == 0x80) --kept;
    return kept;
}

}  // namespace

std::string temporaryPathFor(const std::string& finalPath, unsigned long process, unsigned long number) {
    const std::size_t slash = finalPath.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return finalPath.substr(0, nameStart + keptBytes(finalPath, nameStart, MAX_KEPT_NAME_BYTES)) + ".tarnic-" +
           std::to_string(process) + "-" + std::to_string(number) + ".tmp";
}

TemporaryFile::TemporaryFile(const std::string& finalPath) : finalPath_(finalPath), file_(platform::NO_FILE) {
    // A name can only be taken by a file a killed run left behind, or one of another
    // machine's run on a shared folder: another name then.
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS && file_ == platform::NO_FILE; ++attempt) {
        path_ = temporaryPathFor(finalPath, platform::processId(), namesGiven.fetch_add(1));
        // From the claim to the publication the cleanup waits for this thread, which
        // nothing may stop meanwhile.
        platform::holdSignals();
        slot_ = claimSlot();
        if (slot_ < 0) {
            error_ = std::make_error_code(std::errc::too_many_files_open);
            platform::releaseSignals();
            return;
        }
        try {
            file_ = platform::createNew(path_);
        } catch (...) {
            slots[std::size_t(slot_)].state.store(FREE);
            platform::releaseSignals();
            throw;
        }
        // Published only once created, so the cleanup never removes a file of someone else's.
        if (file_ != platform::NO_FILE) {
            publishSlot(slot_, path_.c_str());
        } else {
            error_ = platform::lastError();
            slots[std::size_t(slot_)].state.store(FREE);
            slot_ = -1;
        }
        platform::releaseSignals();
    }
}

TemporaryFile::~TemporaryFile() { discard(); }

bool TemporaryFile::close() {
    if (slot_ < 0) return false;
    if (file_ == platform::NO_FILE) return true;
    const bool closed = platform::closeFile(file_);
    file_ = platform::NO_FILE;
    if (!closed) {
        error_ = platform::lastError();
        discard();
    }
    return closed;
}

bool TemporaryFile::commit() {
    if (!close()) return false;
    if (!platform::replaceFile(path_, finalPath_)) {
        error_ = platform::lastError();
        discard();
        return false;
    }
    releaseSlot(slot_);
    slot_ = -1;
    return true;
}

void TemporaryFile::discard() {
    if (slot_ < 0) return;
    if (file_ != platform::NO_FILE) platform::closeFile(file_);
    file_ = platform::NO_FILE;
    platform::removeFile(path_.c_str());
    releaseSlot(slot_);
    slot_ = -1;
}

void closeTemporaryFiles() {
    closed.store(true);
    for (Slot& slot : slots) {
        for (;;) {
            int state = slot.state.load();
            if (state == CREATING) {
                // Its thread publishes the file or gives the slot up in a moment.
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            if (state != LIVE) break;
            if (slot.state.compare_exchange_strong(state, CLEANING)) {
                platform::removeFile(slot.path);
                break;
            }
        }
    }
}

}  // namespace tarnic::cli
