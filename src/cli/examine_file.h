#pragma once

#include <optional>
#include <string>

#include "tarnic/examine.h"

namespace tarnic::cli {

/// One file of --verify or --info, examined or not.
struct FileExamination {
    std::string path;
    std::optional<examine::Protocol> protocol;  ///< from the name's extension
    std::optional<examine::DemoReport> report;  ///< set when the file was read whole
    std::string error;                          ///< why it was not; empty when it was
};

/// Examines the demo at `path` as its extension says; never throws.
FileExamination examineFile(const std::string& path);

/// Examines the demo at `path` as a demo of `protocol`; never throws.
FileExamination examineFile(const std::string& path, examine::Protocol protocol);

}  // namespace tarnic::cli
