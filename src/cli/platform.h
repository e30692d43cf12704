#pragma once

// The few calls that differ between POSIX systems and Windows. File names are UTF-8
// everywhere; files are numbered descriptors opened in binary mode.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tarnic::cli::platform {

constexpr int NO_FILE = -1;

/// The program's arguments in UTF-8; also puts standard output in binary mode and,
/// on Windows, has the console show what the program prints as UTF-8 until it ends,
/// however it ends (then the console's code page is restored).
std::vector<std::string> startProgram(int argc, char** argv);

/// The last call of a program that ends normally. On Windows, when the program has
/// its console to itself (started by a double-click, or a file dropped on it), and
/// reads from it, asks for Enter and waits for it, so that the window does not close
/// before its text is read.
void finishProgram();

/// Opens an existing file for reading; NO_FILE when it cannot be opened.
int openForReading(const std::string& path);

/// What `openRegularForReading` gives for anything but a regular file.
constexpr int NOT_REGULAR = -2;

/// Opens an existing regular file for reading without waiting for anything (a pipe's
/// writer, a device): NOT_REGULAR, closed again, when what was opened is not a regular
/// file (a folder, a pipe, a device), whatever the name held before; NO_FILE when it
/// cannot be opened.
int openRegularForReading(const std::string& path);

/// Creates a new file for writing, failing when anything (a link included) already
/// has the name; the permissions of any newly created file. NO_FILE on failure.
int createNew(const std::string& path);

/// Reads up to `count` bytes: how many were read, 0 at the end of the file, -1 on error.
long long readSome(int file, void* into, std::size_t count);

/// The size of an open file where it is a regular file; none for anything else.
std::optional<std::uint64_t> regularFileSize(int file);

/// A regular file's bytes, mapped into memory for reading.
struct MappedFile {
    const std::uint8_t* bytes = nullptr;  ///< null where the file could not be mapped
    std::size_t size = 0;
    int slot = -1;  ///< where the program keeps it, for a fault in it to be found
    /// Set once a page of it has been found cut off; null where nothing can set it.
    const std::atomic<bool>* faulted = nullptr;
};

/// Maps the first `size` bytes of an open regular file for reading; `bytes` null where
/// it cannot be mapped (then it is read instead). Where another process cuts the file
/// short meanwhile, touching a page past its new end ends nothing: the page reads as
/// 0xFF bytes and `mappingFaulted` becomes true, which makes it a read error.
MappedFile mapForReading(int file, std::uint64_t size);

/// True once a page of the mapping has been found cut off from its file. Asked
/// before and after every read of a mapped input: inline, one load.
inline bool mappingFaulted(const MappedFile& mapping) {
    return mapping.faulted != nullptr && mapping.faulted->load(std::memory_order_acquire);
}

/// Unmaps what `mapForReading` mapped.
void unmap(const MappedFile& mapping);

/// Writes all `count` bytes; false on error.
bool writeAll(int file, const void* bytes, std::size_t count);

/// Closes a file; false when the last of its data could not be written.
bool closeFile(int file);

/// True when `path` itself names a folder; a link to one is not (renaming onto it
/// replaces the link).
bool isFolder(const std::string& path);

/// True when the last part of `path` is longer than its folder's file system allows.
bool nameTooLong(const std::string& path);

/// Gives `from` the name `to` in one step, replacing whatever file had it.
bool replaceFile(const std::string& from, const std::string& to);

/// Removes a file.
void removeFile(const char* path);

/// A new temporary file to write and read back in binary, in the user's folder for
/// temporary files, removed when closed or when the program ends however it ends;
/// null when none can be made.
std::FILE* openScratchFile();

/// Why the calling thread's last failed platform call failed.
std::error_code lastError();

/// What makes a file the one it is, whatever names lead to it: its device and its
/// number on that device (inode, or the file index on Windows).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

/// The identity of what `path` names, the link itself where `followLinks` is false;
/// none when nothing has the name.
std::optional<FileIdentity> identityOf(const std::string& path, bool followLinks);

/// How many threads of this process may be busy at once: the processors its affinity
/// mask allows and, on Linux, no more than its control group's CPU quota (rounded up);
/// at least one.
unsigned usableProcessors();

/// True where, of those processors, one more is idle than this thread takes: where
/// the system cannot tell, true.
bool idleProcessorBesideThis(unsigned usable);

/// Distinguishes this run from any other running at the same time.
unsigned long processId();

/// Why the user or the system ends the program.
enum class Termination {
    Interrupted,  ///< an interrupt (Ctrl-C), a termination request, a hang-up, a closed console
    PipeClosed,   ///< standard output's reader went away
};

/// Has `onSignal` run when the user or the system ends the program, then ends the
/// program as it would have ended without it (a shell sees the same signal). It runs
/// once, on a thread of its own (on POSIX systems the only one that takes those
/// signals; a closed pipe's, which stops the thread that wrote, is handed to it), while
/// the program's other threads go on; it is an ordinary function, free to wait for
/// them. Call it first, before the program starts any thread.
void watchTermination(void (*onSignal)(Termination));

/// Keeps the calling thread from being stopped by a termination signal until
/// `releaseSignals`, while it holds something the cleanup would wait for.
void holdSignals();
void releaseSignals();

}  // namespace tarnic::cli::platform
