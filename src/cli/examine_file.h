#pragma once

#include <functional>
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

/// Examines every ".dm3" and ".dm_48" member of the pack at `path`, in the order the
/// pack stores them, each read as a stream and handed to `found` named
/// "PATH:MEMBER". A pack that cannot be opened, or that is damaged past reading on,
/// gives one more examination named `path` with the reason. Never throws.
/// Available where the program reads packs (TARNIC_PACKS).
void examinePack(const std::string& path, const std::function<void(FileExamination)>& found);

}  // namespace tarnic::cli
