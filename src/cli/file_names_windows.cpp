#ifdef _WIN32

#include "cli/file_names.h"

#include <windows.h>
#include <shellapi.h>

namespace tarnic::cli {

namespace {

std::string toUtf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string utf8(std::size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back();  // the terminator
    return utf8;
}

std::wstring toWide(const std::string& text) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (units <= 1) return {};
    std::wstring wide(std::size_t(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
    wide.pop_back();
    return wide;
}

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::FILE* openFile(const std::string& name, const char* mode) {
    return _wfopen(toWide(name).c_str(), toWide(mode).c_str());
}

bool removeFile(const std::string& name) { return _wremove(toWide(name).c_str()) == 0; }

}  // namespace tarnic::cli

#endif
