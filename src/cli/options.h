#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarnic::cli {

/// What the program was asked to do.
enum class Mode {
    SingleFile,  ///< `tarnic FILE`: the original form, handled as it always was
    Help,
    Version,
    Batch,
    Verify,  ///< `--verify FILE...`: tell whether each demo is well-formed
    Info,    ///< `--info FILE...`: summarise each demo
};

/// The command line, parsed. Options begin with "--" (or are "-h"); everything after
/// them, or after "--", is a path.
struct Options {
    Mode mode = Mode::SingleFile;
    std::vector<std::string> paths;
    std::optional<std::string> outputDir;
    unsigned jobs = 0;  ///< 0: one per processor core
    bool skipExisting = false;
    bool verbose = false;
    bool verifyOutputs = false;  ///< `--batch --verify`: verify each output once written
    bool json = false;           ///< `--json`: facts as one JSON document (with --info or --verify)
};

/// A command line the program cannot act on; the program exits with status 2.
struct UsageError {
    std::string message;
};

inline constexpr int USAGE_ERROR_STATUS = 2;
inline constexpr unsigned MAX_JOBS = 1024;

/// True when the arguments (the program's name first) are in the option form rather
/// than the single-file form.
bool isOptionForm(const std::vector<std::string>& arguments);

/// Parses the option form (see isOptionForm).
std::variant<Options, UsageError> parseOptions(const std::vector<std::string>& arguments);

}  // namespace tarnic::cli
