#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch_inputs.h"
#include "cli/batch_report.h"
#include "cli/diagnostics_buffer.h"
#include "cli/options.h"

namespace tarnic::cli {

/// One member's line of a pack's conversion.
struct MemberLine {
    std::string member;  ///< its name as stored
    FileReport report;
    std::unique_ptr<DiagnosticsBuffer> diagnostics;
};

/// How converting one pack of a batch ended.
struct PackOutcome {
    std::vector<MemberLine> members;  ///< in member order
    /// The pack's own line, after its members': when it could not be opened, read to
    /// its end or written, was skipped, or holds no demo.
    std::optional<FileReport> pack;
};

/// Why a build without pack support refuses a pack, in the batch and the examination.
inline constexpr const char* PACKS_NOT_BUILT =
    "packs are not supported in this build of tarnic; unpack it first, or drop it on the converter page, which "
    "converts packs";

/// The conversions running at once in a batch: each worker's input, and each pack
/// member converted on a thread of its own, so that packs converting side by side
/// never keep more than --jobs threads busy. A worker counts itself for its input.
class ConversionCount {
public:
    /// A worker starts an input (always counted).
    static void start();
    /// A pack member may go to a thread of its own: true, and counted, only while
    /// fewer than `jobs` conversions run.
    static bool tryStartBeside(unsigned jobs);
    static void end();
};

/// Converts the pack `item` names: into a new pack at `item.output`, or, with
/// `--output-dir`, each demo member into a file under the folder `item.output`.
/// A pack met in a folder that holds no demo leaves no line and no file. Never throws.
PackOutcome convertPack(const BatchInput& item, const Options& options);

/// The pack's converted form beside it, or the folder under `outputDir` its members go to.
std::filesystem::path packOutputPath(const std::filesystem::path& input, const std::filesystem::path& relative,
                                     const std::optional<std::string>& outputDir);

}  // namespace tarnic::cli
