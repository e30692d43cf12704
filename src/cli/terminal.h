#pragma once

#include <cstdio>

namespace tarnic::cli {

/// True when `stream` is an interactive terminal rather than a pipe or a file.
bool isTerminal(std::FILE* stream);

/// Takes `stream` for the calling thread: other threads' calls on it wait until
/// `unlockStream`. The calling thread may take it again meanwhile.
void lockStream(std::FILE* stream);
void unlockStream(std::FILE* stream);

}  // namespace tarnic::cli
