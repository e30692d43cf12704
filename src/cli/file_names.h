#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The program's arguments and file names are UTF-8 everywhere. On Windows the
// narrow ones go through the ANSI code page, which cannot name every file, so
// there they come from and go to the wide-character system calls.

namespace tarnic::cli {

/// The command line's arguments, program name first, in UTF-8.
std::vector<std::string> programArguments(int argc, char** argv);

/// std::fopen for a UTF-8 file name.
std::FILE* openFile(const std::string& name, const char* mode);

/// std::remove for a UTF-8 file name; true when the file is gone.
bool removeFile(const std::string& name);

}  // namespace tarnic::cli
