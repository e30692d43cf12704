// The platform calls on POSIX systems.

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "cli/cpu_quota.h"
#include "cli/platform.h"

namespace tarnic::cli::platform {

namespace {

constexpr int TERMINATION_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void (*terminationHandler)(Termination) = nullptr;
sigset_t watchedSignals;  ///< the termination signals not ignored when the program started
pthread_t watcher;

sigset_t onlySignal(int signalNumber) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    return set;
}

/// The thread that takes the termination signals, blocked in every other one.
void watchSignals() {
    int signalNumber = 0;
    while (sigwait(&watchedSignals, &signalNumber) != 0) {}
    terminationHandler(signalNumber == SIGPIPE ? Termination::PipeClosed : Termination::Interrupted);
    // End as the signal would have ended the program, so the shell sees why.
    std::signal(signalNumber, SIG_DFL);
    const sigset_t only = onlySignal(signalNumber);
    pthread_kill(pthread_self(), signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signalNumber);  // not reached
}

/// A closed pipe stops the thread that wrote to it, whichever that is: the signal is
/// handed to the watcher, and this thread waits for the program's end.
void onPipeClosed(int) {
    pthread_kill(watcher, SIGPIPE);
    for (;;) pause();
}

/// The mapped inputs, for a bus error to be told apart from a fault of the program:
/// one for each job of the largest batch and the program's own thread. Read, without
/// a lock, by the handler of a fault, on the thread that faulted.
struct MappingSlot {
    std::atomic<std::uintptr_t> begin{0};  ///< 0 where the slot is free
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> faulted{false};
};
MappingSlot mappingSlots[1040];
std::once_flag busErrorHandlerInstalled;

/// A page of a mapped input past the end of its file, cut short by another process, is
/// replaced with a page of 0xFF bytes, which an old demo reads as its end marker, so
/// that the conversion ends and the fault is reported as a read error. A fault anywhere
/// else ends the program as it would have.
void onBusError(int signalNumber, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const auto pageBytes = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    for (MappingSlot& slot : mappingSlots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= slot.end.load(std::memory_order_acquire)) continue;
        void* const page = reinterpret_cast<void*>(at & ~(pageBytes - 1));
        if (::mmap(page, pageBytes, PROT_READ | PROT_WRITE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == page) {
            std::memset(page, 0xFF, pageBytes);
            ::mprotect(page, pageBytes, PROT_READ);
            slot.faulted.store(true, std::memory_order_release);
            errno = savedErrno;
            return;
        }
        break;
    }
    // Not ours, or not mended: the fault is repeated on return and ends the program.
    std::signal(signalNumber, SIG_DFL);
    errno = savedErrno;
}

void installBusErrorHandler() {
    struct sigaction action{};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) { return {argv, argv + argc}; }

void finishProgram() {}

int openForReading(const std::string& path) {
    int file;
    do file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (file < 0 && errno == EINTR);
    return file < 0 ? NO_FILE : file;
}

int openRegularForReading(const std::string& path) {
    // Without waiting: opening a pipe for reading waits for a writer.
    int file;
    do file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (file < 0 && errno == EINTR);
    if (file < 0) return NO_FILE;
    // Judged on the file opened: its name may hold something else than when it was listed.
    struct stat status{};
    const bool examined = ::fstat(file, &status) == 0;
    if (examined && S_ISREG(status.st_mode)) {
        const int flags = ::fcntl(file, F_GETFL);
        if (flags >= 0 && ::fcntl(file, F_SETFL, flags & ~O_NONBLOCK) == 0) return file;
    }
    ::close(file);
    return examined && !S_ISREG(status.st_mode) ? NOT_REGULAR : NO_FILE;
}

int createNew(const std::string& path) {
    // O_EXCL refuses any existing name, a symbolic link included, so nothing is written through one.
    int file;
    do file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (file < 0 && errno == EINTR);
    return file < 0 ? NO_FILE : file;
}

std::optional<std::uint64_t> regularFileSize(int file) {
    struct stat status{};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return std::uint64_t(status.st_size);
}

MappedFile mapForReading(int file, std::uint64_t size) {
    if (size == 0 || size > std::numeric_limits<std::size_t>::max()) return {};
    std::call_once(busErrorHandlerInstalled, installBusErrorHandler);
    for (int slot = 0; slot < int(std::size(mappingSlots)); ++slot) {
        std::uintptr_t free = 0;
        // Taken with a placeholder until the mapping's address is known.
        if (!mappingSlots[slot].begin.compare_exchange_strong(free, 1, std::memory_order_acq_rel)) continue;
        void* const bytes = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, file, 0);
        if (bytes == MAP_FAILED) {
            mappingSlots[slot].begin.store(0, std::memory_order_release);
            return {};
        }
        const auto begin = reinterpret_cast<std::uintptr_t>(bytes);
        mappingSlots[slot].faulted.store(false, std::memory_order_relaxed);
        mappingSlots[slot].end.store(begin + std::size_t(size), std::memory_order_release);
        mappingSlots[slot].begin.store(begin, std::memory_order_release);
        return {static_cast<const std::uint8_t*>(bytes), std::size_t(size), slot, &mappingSlots[slot].faulted};
    }
    return {};
}

void unmap(const MappedFile& mapping) {
    if (mapping.bytes == nullptr) return;
    ::munmap(const_cast<std::uint8_t*>(mapping.bytes), mapping.size);
    mappingSlots[mapping.slot].end.store(0, std::memory_order_release);
    mappingSlots[mapping.slot].begin.store(0, std::memory_order_release);
}

long long readSome(int file, void* into, std::size_t count) {
    ssize_t got;
    do got = ::read(file, into, count);
    while (got < 0 && errno == EINTR);
    return got;
}

bool writeAll(int file, const void* bytes, std::size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t put = ::write(file, next, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        next += put;
        count -= std::size_t(put);
    }
    return true;
}

bool closeFile(int file) { return ::close(file) == 0; }

bool isFolder(const std::string& path) {
    struct stat status{};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool nameTooLong(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 && path.size() - (slash == std::string::npos ? 0 : slash + 1) > std::size_t(limit);
}

bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

void removeFile(const char* path) { ::unlink(path); }

std::FILE* openScratchFile() { return std::tmpfile(); }

std::error_code lastError() { return {errno, std::generic_category()}; }

std::optional<FileIdentity> identityOf(const std::string& path, bool followLinks) {
    struct stat status{};
    if ((followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status)) != 0) return std::nullopt;
    return FileIdentity{std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
}

unsigned usableProcessors() {
#ifdef __linux__
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const unsigned processors = sched_getaffinity(0, sizeof allowed, &allowed) == 0
                                    ? unsigned(CPU_COUNT(&allowed))
                                    : std::thread::hardware_concurrency();
    return threadsFor(processors, cgroupCpuQuota("/"));
#else
    return threadsFor(std::thread::hardware_concurrency(), std::nullopt);
#endif
}

bool idleProcessorBesideThis(unsigned usable) {
#ifdef __linux__
    // About a fifth of a millisecond at most (a look reads /proc/stat, some 20 µs; a
    // pause takes some 70 µs with the timer's slack), spent only where another program
    // seems to run: long enough for threads about to sleep to have slept, short beside
    // a conversion that xargs -P starts next to another.
    static constexpr unsigned LOOKS = 3;
    static constexpr auto PAUSE = std::chrono::microseconds(20);
    return processorFreeAtSomeLook([] { return runningThreads("/"); }, usable, LOOKS,
                                   [] { std::this_thread::sleep_for(PAUSE); });
#else
    return usable > 1;
#endif
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

void watchTermination(void (*onSignal)(Termination)) {
    terminationHandler = onSignal;
    sigemptyset(&watchedSignals);
    for (const int signalNumber : TERMINATION_SIGNALS) {
        // A signal the caller chose to ignore (nohup, a shell's background job) stays ignored.
        struct sigaction previous{};
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaddset(&watchedSignals, signalNumber);
    }
    // Blocked before any other thread starts, so that every thread started later has
    // them blocked too and only the watcher, waiting for them, ever takes one.
    pthread_sigmask(SIG_BLOCK, &watchedSignals, nullptr);
    std::thread watching(watchSignals);
    watcher = watching.native_handle();
    watching.detach();
    if (sigismember(&watchedSignals, SIGPIPE)) {
        struct sigaction action{};
        action.sa_handler = onPipeClosed;
        sigemptyset(&action.sa_mask);
        sigaction(SIGPIPE, &action, nullptr);
        const sigset_t pipe = onlySignal(SIGPIPE);
        pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    }
    // A file grown past the size limit is a write error to report, not a reason to end
    // the program with its temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

void holdSignals() {
    const sigset_t pipe = onlySignal(SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void releaseSignals() {
    const sigset_t pipe = onlySignal(SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace tarnic::cli::platform
