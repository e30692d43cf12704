// Loaded into the real program by the command-line tests: once the files opened after
// the standard streams have given TARNIC_TEST_READ_BYTES bytes, every read of them
// fails as a failing disk would. Such files are never mapped into memory either, so
// that the program reads them.

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using ReadCall = ssize_t (*)(int, void*, size_t);

ssize_t failingRead(int file, void* into, size_t count) {
    static const auto realRead = reinterpret_cast<ReadCall>(dlsym(RTLD_NEXT, "read"));
    static const char* limitText = std::getenv("TARNIC_TEST_READ_BYTES");
    static size_t left = limitText ? std::strtoul(limitText, nullptr, 10) : size_t(-1);
    if (file <= STDERR_FILENO) return realRead(file, into, count);
    if (left == 0) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = realRead(file, into, count < left ? count : left);
    if (got > 0) left -= size_t(got);
    return got;
}

}  // namespace

extern "C" ssize_t read(int file, void* into, size_t count) { return failingRead(file, into, count); }

extern "C" ssize_t __read_chk(int file, void* into, size_t count, size_t /*size*/) {
    return failingRead(file, into, count);
}

extern "C" void* mmap(void* address, size_t length, int protection, int flags, int file, off_t offset) {
    using MapCall = void* (*)(void*, size_t, int, int, int, off_t);
    static const auto realMap = reinterpret_cast<MapCall>(dlsym(RTLD_NEXT, "mmap"));
    if (file > STDERR_FILENO && (flags & MAP_ANONYMOUS) == 0) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    return realMap(address, length, protection, flags, file, offset);
}
