#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/convert_file.h"

namespace tarnic::cli {

/// The command lines a note may suggest: a POSIX shell's, or the Windows command prompt's.
enum class Shell { Posix, Windows };

#ifdef _WIN32
inline constexpr Shell SYSTEM_SHELL = Shell::Windows;
#else
inline constexpr Shell SYSTEM_SHELL = Shell::Posix;
#endif

/// `name` as one word of `shell`'s command line: as it is when nothing in it needs
/// quoting, else quoted so that the shell gives the program exactly these bytes.
/// Control characters and bytes that are not UTF-8 show as \xNN, in the POSIX quoting
/// that reads them back ($'...').
std::string shellWord(std::string_view name, Shell shell = SYSTEM_SHELL);

// The single-file form's lines on standard error, each ending in "\n"; standard
// output, the form's product, says nothing of these.

/// For the names after the first, which the single-file form does not convert: how
/// many and which (the first few of a long list), and the --batch command that
/// converts them all. Empty when `names` holds one name.
std::string extraNamesNote(const std::vector<std::string>& names, Shell shell = SYSTEM_SHELL);

/// For a conversion that failed: the system's reason, after the name of the file it
/// concerns; for an input that is a folder, the --batch command that converts the
/// demos in it instead. Empty when there is nothing to add.
std::string failureNote(const std::string& input, const std::string& output, const FileConversion& conversion,
                        bool inputIsFolder, Shell shell = SYSTEM_SHELL);

}  // namespace tarnic::cli
