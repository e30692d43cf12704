#pragma once

#include <cstdio>

namespace tarnic::cli {

/// True when `stream` is an interactive terminal rather than a pipe or a file.
bool isTerminal(std::FILE* stream);

}  // namespace tarnic::cli
