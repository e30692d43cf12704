#include "cli/temporary_file.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "cli/platform.h"

namespace tarnic::cli {

namespace {

/// Keeps the temporary name within the 255 bytes most file systems allow a name.
constexpr std::size_t MAX_KEPT_NAME_BYTES = 200;
constexpr int MAX_NAME_ATTEMPTS = 8;

// The live temporary files, for the termination cleanup to remove. A slot goes
// FREE -> CLAIMED (its owner fills it) -> LIVE -> CLAIMED (its owner empties it) -> FREE;
// the cleanup takes a LIVE slot to CLEANING and never gives it back, so no name is
// freed while the cleanup reads it. Lock-free atomics are safe in a signal handler.
enum SlotState : int { FREE, CLAIMED, LIVE, CLEANING };
constexpr std::size_t SLOT_COUNT = 1024;

struct Slot {
    std::atomic<int> state{FREE};
    const char* path = nullptr;
};
std::array<Slot, SLOT_COUNT> slots;
std::atomic<unsigned long> namesGiven{0};

void removeLiveFiles() {
    for (Slot& slot : slots) {
        int expected = LIVE;
        if (slot.state.compare_exchange_strong(expected, CLEANING)) platform::removeFile(slot.path);
    }
}

int claimSlot(const char* path) {
    static std::once_flag installed;
    std::call_once(installed, [] { platform::onTermination(removeLiveFiles); });
    for (std::size_t i = 0; i < SLOT_COUNT; ++i) {
        int expected = FREE;
        if (slots[i].state.compare_exchange_strong(expected, CLAIMED)) {
            slots[i].path = path;
            slots[i].state.store(LIVE);
            return int(i);
        }
    }
    return -1;
}

void releaseSlot(int index) {
    Slot& slot = slots[std::size_t(index)];
    int expected = LIVE;
    // CLEANING: a termination signal is removing the files and ending the program.
    while (!slot.state.compare_exchange_weak(expected, CLAIMED)) expected = LIVE;
    slot.path = nullptr;
    slot.state.store(FREE);
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
    // A name can only be taken by a file a killed run left behind: another name then.
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS && file_ == platform::NO_FILE; ++attempt) {
        path_ = temporaryPathFor(finalPath, platform::processId(), namesGiven.fetch_add(1));
        // Registered before it exists, so no moment passes in which a signal would leave it behind.
        slot_ = claimSlot(path_.c_str());
        if (slot_ < 0) return;
        file_ = platform::createNew(path_);
        if (file_ == platform::NO_FILE) {
            releaseSlot(slot_);
            slot_ = -1;
        }
    }
}

TemporaryFile::~TemporaryFile() { discard(); }

bool TemporaryFile::commit() {
    if (slot_ < 0) return false;
    const bool closed = platform::closeFile(file_);
    file_ = platform::NO_FILE;
    if (!closed || !platform::replaceFile(path_, finalPath_)) {
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

}  // namespace tarnic::cli
