// The platform calls on Windows: UTF-8 names become UTF-16 for the wide-character calls.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <thread>

#include "cli/platform.h"

namespace tarnic::cli::platform {

namespace {

void (*terminationHandler)(Termination) = nullptr;

/// Why this thread's last failed platform call failed: Windows' own codes for its
/// calls, the C library's for _read, _write and _close.
thread_local std::error_code lastFailure;

void failedWindowsCall() { lastFailure = {int(GetLastError()), std::system_category()}; }
void failedLibraryCall() { lastFailure = {errno, std::generic_category()}; }

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), result.data(), length);
    return result;
}

std::string utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string result(std::size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.pop_back();  // the terminator
    return result;
}

/// Opens or creates through CreateFileW, for the sharing the C library's calls do not offer.
int openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition, int mode) {
    const std::wstring name = wide(path);
    if (name.empty()) {
        lastFailure = std::make_error_code(std::errc::invalid_argument);
        return NO_FILE;
    }
    HANDLE handle = CreateFileW(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failedWindowsCall();
        return NO_FILE;
    }
    const int file = _open_osfhandle(reinterpret_cast<intptr_t>(handle), mode | _O_BINARY);
    if (file < 0) {
        failedLibraryCall();
        CloseHandle(handle);
    }
    return file < 0 ? NO_FILE : file;
}

/// The console's output code page before the program set UTF-8; 0 when it set none.
std::atomic<UINT> earlierCodePage{0};

/// Standard output and standard error where they are the console.
std::FILE* consoleStreams[2] = {nullptr, nullptr};

/// Bytes a stream that is the console holds until flushed.
constexpr std::size_t CONSOLE_BUFFER_BYTES = 16 << 10;

bool isConsole(std::FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

/// The C library hands an unbuffered stream to the console a byte at a time, and a
/// console may show each byte of a UTF-8 sequence cut so as garbage: the streams that
/// are the console get a buffer, and write bytes as they are (not converted as text).
void bufferConsoleStreams() {
    std::FILE* streams[2] = {stdout, stderr};
    for (int at = 0; at < 2; ++at) {
        if (!isConsole(streams[at])) continue;
        _setmode(_fileno(streams[at]), _O_BINARY);
        std::setvbuf(streams[at], nullptr, _IOFBF, CONSOLE_BUFFER_BYTES);
        consoleStreams[at] = streams[at];
    }
}

/// Writes out what the console's streams hold; a console write does not wait for a reader.
void flushConsoleStreams() {
    for (std::FILE* stream : consoleStreams) {
        if (stream) std::fflush(stream);
    }
}

void restoreCodePage() {
    const UINT codePage = earlierCodePage.exchange(0);
    if (codePage != 0) SetConsoleOutputCP(codePage);
}

/// As the program ends: what is still buffered is UTF-8, written before the console's
/// code page changes back.
void flushAndRestoreCodePage() {
    std::fflush(stdout);
    std::fflush(stderr);
    restoreCodePage();
}

/// Runs on a thread of its own, the console's, for each event.
BOOL WINAPI onConsoleEvent(DWORD /*event*/) {
    terminationHandler(Termination::Interrupted);
    // Only the console's streams: a pipe's reader may never take what it is given.
    flushConsoleStreams();
    restoreCodePage();
    return FALSE;  // and the default handling ends the program
}

/// True when the program reads from a console no other program is attached to: one
/// opened for it alone, not a prompt's or a script's.
bool hasConsoleAlone() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_CHAR ||
        !GetConsoleMode(input, &mode)) {
        return false;
    }
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) {
    // "\n" must stay one byte in everything the program prints.
    _setmode(_fileno(stdout), _O_BINARY);
    // Names and demo text are printed in UTF-8.
    bufferConsoleStreams();
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        earlierCodePage = codePage;
        std::atexit(flushAndRestoreCodePage);
    }
    int count = 0;
    wchar_t** wideArguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wideArguments == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(utf8(wideArguments[i]));
    LocalFree(wideArguments);
    return arguments;
}

void finishProgram() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (!hasConsoleAlone()) return;
    std::fputs("Press Enter to close", stderr);
    std::fflush(stderr);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    wchar_t typed[64];
    DWORD count = 0;
    while (ReadConsoleW(input, typed, 64, &count, nullptr) && count > 0) {
        if (std::wmemchr(typed, L'\r', count) || std::wmemchr(typed, L'\n', count)) break;
    }
}

int openForReading(const std::string& path) {
    return openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                      _O_RDONLY);
}

int openRegularForReading(const std::string& path) {
    // Opening a pipe or a device does not wait here; reading it might.
    const int file = openForReading(path);
    if (file == NO_FILE) return NO_FILE;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(file))) == FILE_TYPE_DISK) return file;
    _close(file);
    return NOT_REGULAR;
}

int createNew(const std::string& path) {
    // CREATE_NEW refuses any existing name. Sharing deletion lets the cleanup remove
    // the file while it is still open; it goes when the program ends.
    return openHandle(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, _O_WRONLY);
}

long long readSome(int file, void* into, std::size_t count) {
    const int got = _read(file, into, unsigned(count < (1u << 30) ? count : (1u << 30)));
    if (got < 0) failedLibraryCall();
    return got;
}

bool writeAll(int file, const void* bytes, std::size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const int put = _write(file, next, unsigned(count < (1u << 30) ? count : (1u << 30)));
        if (put <= 0) {
            failedLibraryCall();
            return false;
        }
        next += put;
        count -= std::size_t(put);
    }
    return true;
}

bool closeFile(int file) {
    if (_close(file) == 0) return true;
    failedLibraryCall();
    return false;
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool nameTooLong(const std::string& path) {
    // Names longer than this many UTF-16 units fit no Windows file system.
    const std::size_t slash = path.find_last_of("/\\");
    return wide(path.substr(slash == std::string::npos ? 0 : slash + 1)).size() > 255;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    failedWindowsCall();
    return false;
}

void removeFile(const char* path) { DeleteFileW(wide(path).c_str()); }

std::FILE* openScratchFile() {
    // Not tmpfile(): Microsoft's C library makes it in the drive's root folder, where
    // users usually may not write.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        failedWindowsCall();
        return nullptr;
    }
    static std::atomic<unsigned long> made{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = folder + (L"tarnic-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                            std::to_wstring(made++) + L".tmp");
        // The system deletes the file once its handle closes, even when the program is killed.
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            failedWindowsCall();
            if (GetLastError() == ERROR_FILE_EXISTS) continue;  // the name is taken: the next one
            return nullptr;
        }
        const int file = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (file < 0) {
            failedLibraryCall();
            CloseHandle(handle);
            return nullptr;
        }
        std::FILE* stream = _fdopen(file, "w+b");
        if (stream == nullptr) {
            failedLibraryCall();
            _close(file);
        }
        return stream;
    }
    return nullptr;
}

std::error_code lastError() { return lastFailure; }

std::optional<FileIdentity> identityOf(const std::string& path, bool followLinks) {
    // Folders open only with backup semantics; a link is opened itself when not followed.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::optional<std::uint64_t> regularFileSize(int file) {
    struct _stat64 status{};
    if (_fstat64(file, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
    return std::uint64_t(status.st_size);
}

// Windows keeps a mapped file from being cut short, but the program reads it instead
// all the same: one way of reading to keep right there.
MappedFile mapForReading(int, std::uint64_t) { return {}; }

void unmap(const MappedFile&) {}

unsigned usableProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

bool idleProcessorBesideThis(unsigned usable) { return usable > 1; }

unsigned long processId() { return GetCurrentProcessId(); }

void watchTermination(void (*onSignal)(Termination)) {
    terminationHandler = onSignal;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// The console's events stop no thread of the program.
void holdSignals() {}
void releaseSignals() {}

}  // namespace tarnic::cli::platform
