#ifndef _WIN32

#include "cli/file_names.h"

namespace tarnic::cli {

std::vector<std::string> programArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* openFile(const std::string& name, const char* mode) { return std::fopen(name.c_str(), mode); }

bool removeFile(const std::string& name) { return std::remove(name.c_str()) == 0; }

}  // namespace tarnic::cli

#endif
