#include "cli/terminal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tarnic::cli {

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void lockStream(std::FILE* stream) {
#ifdef _WIN32
    _lock_file(stream);
#else
    flockfile(stream);
#endif
}

void unlockStream(std::FILE* stream) {
#ifdef _WIN32
    _unlock_file(stream);
#else
    funlockfile(stream);
#endif
}

}  // namespace tarnic::cli
