#pragma once

#include <optional>
#include <string>

#include "inspect/inspect_demo.h"

namespace tarnic::cli {

/// One file of --verify or --info, inspected or not.
struct FileInspection {
    std::string path;
    std::optional<inspect::Protocol> protocol;  ///< from the name's extension
    std::optional<inspect::DemoReport> report;  ///< set when the file was read whole
    std::string error;                          ///< why it was not; empty when it was
};

/// Inspects the demo at `path` as its extension says; never throws.
FileInspection inspectFile(const std::string& path);

/// Inspects the demo at `path` as a demo of `protocol`; never throws.
FileInspection inspectFile(const std::string& path, inspect::Protocol protocol);

}  // namespace tarnic::cli
