#include "cli/single_file_notes.h"

#include <cstdio>

#include "cli/examine_text.h"
#include "text/utf8.h"

namespace tarnic::cli {
namespace {

using text::utf8SequenceAt;

/// Names after the first shown in a note; beyond them the list is cut short, and
/// the command shows its shape rather than every name.
constexpr std::size_t MAX_NAMES_SHOWN = 3;

bool isAsciiAlphanumeric(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

std::string hexEscape(unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    return escaped;
}

/// Bytes a shell takes literally outside quotes: letters, digits, these marks, and
/// well-formed UTF-8 beyond ASCII.
bool needsQuotes(std::string_view name, std::string_view plainMarks) {
    if (name.empty()) return true;
    for (std::size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        if (byte >= 0x80) {
            const std::size_t length = utf8SequenceAt(name, at);
            if (length == 0) return true;
            at += length;
            continue;
        }
        if (!isAsciiAlphanumeric(byte) && plainMarks.find(char(byte)) == std::string_view::npos) return true;
        ++at;
    }
    return false;
}

std::string posixWord(std::string_view name) {
    if (!needsQuotes(name, "_-./:,+@%=")) return std::string(name);
    bool unprintable = false;
    for (std::size_t at = 0; at < name.size() && !unprintable; ++at) {
        const auto byte = static_cast<unsigned char>(name[at]);
        unprintable = isControl(byte) || (byte >= 0x80 && utf8SequenceAt(name, at) == 0);
    }
    if (!unprintable) {
        std::string word = "'";
        for (const char c : name) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return word + "'";
    }
    // The quoting that reads escapes back, so the line stays printable and still works.
    std::string word = "$'";
    for (std::size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        const std::size_t length = byte >= 0x80 ? utf8SequenceAt(name, at) : 1;
        if (length == 0 || isControl(byte)) {
            word += hexEscape(byte);
            ++at;
            continue;
        }
        if (byte == '\\' || byte == '\'') word += '\\';
        word.append(name.substr(at, length));
        at += length;
    }
    return word + "'";
}

std::string windowsWord(std::string_view name) {
    if (!needsQuotes(name, "_-./:+@~\\")) return std::string(name);
    // Backslashes are literal unless they precede a quote, where the program's
    // argument parser halves them.
    std::string word = "\"";
    std::size_t backslashes = 0;
    for (const char c : name) {
        if (c == '\\') {
            ++backslashes;
            word += c;
            continue;
        }
        if (c == '"') word.append(backslashes + 1, '\\');
        backslashes = 0;
        const auto byte = static_cast<unsigned char>(c);
        word += isControl(byte) ? hexEscape(byte) : std::string(1, c);  // no file name holds one
    }
    word.append(backslashes, '\\');
    return word + "\"";
}

/// "tarnic --batch" and the first `shown` names, "..." when there are more.
std::string batchCommand(const std::vector<std::string>& names, std::size_t shown, Shell shell) {
    std::string command = "tarnic --batch";
    for (const auto& name : names) {
        // Options end where the names begin.
        if (name.size() > 1 && name[0] == '-') {
            command += " --";
            break;
        }
    }
    for (std::size_t at = 0; at < names.size() && at < shown; ++at) {
        command += ' ';
        command += shellWord(names[at], shell);
    }
    return names.size() > shown ? command + " ..." : command;
}

}  // namespace

std::string shellWord(std::string_view name, Shell shell) {
    return shell == Shell::Windows ? windowsWord(name) : posixWord(name);
}

std::string extraNamesNote(const std::vector<std::string>& names, Shell shell) {
    if (names.size() <= 1) return {};
    const std::size_t extra = names.size() - 1;
    std::string list;
    for (std::size_t at = 1; at <= extra && at <= MAX_NAMES_SHOWN; ++at) {
        if (at > 1) list += ", ";
        list += shellWord(names[at], shell);
    }
    if (extra > MAX_NAMES_SHOWN) list += ", ...";
    std::string note = "tarnic: " + std::to_string(extra) + (extra == 1 ? " more name" : " more names") +
                       " not converted (" + list + "): without --batch only the first is; ";
    if (extra <= MAX_NAMES_SHOWN) return note + "to convert them all: " + batchCommand(names, names.size(), shell) + "\n";
    return note + "to convert them all, give the same names after --batch: " + batchCommand(names, 1, shell) + "\n";
}

std::string failureNote(const std::string& input, const std::string& output, const FileConversion& conversion,
                        bool inputIsFolder, Shell shell) {
    switch (conversion.outcome) {
    case FileOutcome::CannotOpen:
        if (inputIsFolder) {
            return "tarnic: " + shellWord(input, shell) + " is a folder; to convert the demos in it: " +
                   batchCommand({input}, 1, shell) + "\n";
        }
        [[fallthrough]];
    case FileOutcome::CannotRead:
        if (conversion.error) return "tarnic: " + printable(input) + ": " + conversion.error.message() + "\n";
        break;
    case FileOutcome::CannotCreate:
    case FileOutcome::CannotWrite:
        if (conversion.error) return "tarnic: " + printable(output) + ": " + conversion.error.message() + "\n";
        break;
    case FileOutcome::Converted:
    case FileOutcome::OutOfMemory:      // said on standard output, with no more to add
    case FileOutcome::MessageTooLarge:
    case FileOutcome::NotRegular:       // not asked for
    case FileOutcome::Refused: break;
    }
    return {};
}

}  // namespace tarnic::cli
