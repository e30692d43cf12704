// The platform calls on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "cli/platform.h"

namespace tarnic::cli::platform {

namespace {

void (*terminationCleanup)() = nullptr;

void onTerminationSignal(int signalNumber) {
    terminationCleanup();
    // End as the signal would have ended the program, so the shell sees why.
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) { return {argv, argv + argc}; }

int openForReading(const std::string& path) {
    int file;
    do file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (file < 0 && errno == EINTR);
    return file < 0 ? NO_FILE : file;
}

int createNew(const std::string& path) {
    // O_EXCL refuses any existing name, a symbolic link included, so nothing is written through one.
    int file;
    do file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (file < 0 && errno == EINTR);
    return file < 0 ? NO_FILE : file;
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

std::error_code lastError() { return {errno, std::generic_category()}; }

std::optional<FileIdentity> identityOf(const std::string& path, bool followLinks) {
    struct stat status{};
    if ((followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status)) != 0) return std::nullopt;
    return FileIdentity{std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

void onTermination(void (*cleanup)()) {
    terminationCleanup = cleanup;
    struct sigaction action{};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // While one signal cleans up, the others wait: the cleanup runs once.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&action.sa_mask, signalNumber);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        // A signal the caller chose to ignore (nohup, a shell's background job) stays ignored.
        struct sigaction previous{};
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signalNumber, &action, nullptr);
    }
    // A file grown past the size limit is a write error to report, not a reason to end
    // the program with its temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tarnic::cli::platform
