#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/inspect_file.h"

namespace tarnic::cli {

/// The name of an operation code: "snapshot", "game state", ..., "unknown".
std::string_view operationName(std::uint8_t code);

/// Where the problem lies and what it is, as one phrase.
std::string problemDescription(const inspect::Problem& problem);

/// The --verify line of one file: "PATH: ok, N records" or "PATH: <problem>".
std::string verifyLine(const FileInspection& file);

/// The --info block of one file.
std::string infoText(const FileInspection& file);

/// Demo bytes as terminal text: well-formed UTF-8 passes, every other byte and every
/// control character shows as \xNN.
std::string printable(std::string_view bytes);

}  // namespace tarnic::cli
