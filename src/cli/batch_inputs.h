#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnic::cli {

/// One file of a batch and where its output goes.
struct BatchInput {
    std::filesystem::path input;
    std::filesystem::path output;
    std::uintmax_t size = 0;  ///< bytes, as listed; 0 when unknown
    std::string problem;      ///< why it cannot be converted at all; empty when it can
    bool pack = false;        ///< a pack of demos, converted member by member
    bool named = false;       ///< named on the command line, not met in a folder
};

/// A path from UTF-8 text, and back: arguments and messages are UTF-8 on every system.
std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8Of(const std::filesystem::path& path);

/// A file met walking a folder, or a folder that could not be read (`problem` set).
struct FolderEntry {
    std::filesystem::path path;      ///< the folder walked joined with the names below it
    std::filesystem::path relative;  ///< its path below the folder walked
    std::string problem;             ///< why a folder could not be read; empty for a file
};

/// Walks `folder` recursively, as the batch does: links to folders are not entered,
/// links to files are kept, and only entries `wanted` by their path are kept. The
/// entries come in the order met; a folder that could not be read wholly comes after
/// what of it could be.
void walkFolder(const std::filesystem::path& folder, bool (*wanted)(const std::filesystem::path&),
                std::vector<FolderEntry>& into);

/// The same entries sorted as the batch lists them: by path in normal form.
std::vector<FolderEntry> listFolder(const std::filesystem::path& folder,
                                    bool (*wanted)(const std::filesystem::path&));

/// Every file named and every ".dm3" file (and, where packs are read, every pack) under
/// every folder named, sorted by path.
/// Links to folders met on the way are not entered. Outputs go beside their
/// inputs, or under `outputDir` mirroring each input's path below the folder named.
std::vector<BatchInput> collectBatchInputs(const std::vector<std::string>& paths,
                                           const std::optional<std::string>& outputDir);

}  // namespace tarnic::cli
