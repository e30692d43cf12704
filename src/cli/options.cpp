#include "cli/options.h"

#include <charconv>
#include <string_view>

namespace tarnic::cli {
namespace {

/// Options that choose what the program does; at most one may be given.
struct ModeOption {
    std::string_view name;
    Mode mode;
};
constexpr ModeOption MODE_OPTIONS[] = {
    {"--help", Mode::Help},
    {"-h", Mode::Help},
    {"--version", Mode::Version},
    {"--batch", Mode::Batch},
    {"--info", Mode::Info},
};

/// Options that switch a flag on.
struct FlagOption {
    std::string_view name;
    bool Options::*flag;
};
constexpr FlagOption FLAG_OPTIONS[] = {
    {"--skip-existing", &Options::skipExisting},
    {"--verbose", &Options::verbose},
    {"--json", &Options::json},
};

std::optional<unsigned> parseJobs(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > MAX_JOBS) return {};
    return value;
}

/// Splits "--name=value" into its parts; a plain "--name" has no value.
std::pair<std::string_view, std::optional<std::string_view>> splitValue(std::string_view argument) {
    const std::size_t equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string_view::npos) return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

}  // namespace

bool isOptionForm(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 && (arguments[1].starts_with("--") || arguments[1] == "-h");
}

std::variant<Options, UsageError> parseOptions(const std::vector<std::string>& arguments) {
    const std::size_t count = arguments.size();
    Options options;
    std::string_view modeName;  // the mode option given, if any
    bool pathsOnly = false;
    bool verify = false;  // a mode of its own, or a flag of --batch
    for (std::size_t at = 1; at < count; ++at) {
        const std::string_view argument = arguments[at];
        if (pathsOnly || !argument.starts_with("-") || argument == "-") {
            options.paths.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            pathsOnly = true;
            continue;
        }
        const auto [name, attached] = splitValue(argument);
        // Value options take "--name=value" or "--name value".
        const auto takeValue = [&, attached = attached]() -> std::optional<std::string_view> {
            if (attached) return attached;
            if (at + 1 < count) return std::string_view(arguments[++at]);
            return std::nullopt;
        };
        if (name == "--jobs") {
            const auto value = takeValue();
            if (!value) return UsageError{"--jobs needs a number"};
            const auto jobs = parseJobs(*value);
            if (!jobs) return UsageError{"--jobs takes a number from 1 to " + std::to_string(MAX_JOBS) + ", not '" +
                                        std::string(*value) + "'"};
            options.jobs = *jobs;
            continue;
        }
        if (name == "--output-dir") {
            const auto value = takeValue();
            if (!value || value->empty()) return UsageError{"--output-dir needs a folder"};
            options.outputDir = std::string(*value);
            continue;
        }
        if (argument == "--verify") {
            verify = true;
            continue;
        }
        bool known = false;
        for (const auto& flag : FLAG_OPTIONS) {
            if (argument == flag.name) {
                options.*flag.flag = true;
                known = true;
            }
        }
        for (const auto& mode : MODE_OPTIONS) {
            if (argument != mode.name) continue;
            if (!modeName.empty() && options.mode != mode.mode) {
                return UsageError{std::string(modeName) + " and " + std::string(argument) + " cannot be combined"};
            }
            options.mode = mode.mode;
            modeName = mode.name;
            known = true;
        }
        if (!known) return UsageError{"unknown option " + std::string(argument)};
    }
    // Help and version need no path, and answer whatever flags come with them.
    if (options.mode == Mode::Help || options.mode == Mode::Version) return options;
    if (verify && options.mode == Mode::Batch) options.verifyOutputs = true;
    if (verify && options.mode != Mode::Batch) {
        if (!modeName.empty()) return UsageError{std::string(modeName) + " and --verify cannot be combined"};
        options.mode = Mode::Verify;
        modeName = "--verify";
    }
    if (options.json && options.mode != Mode::Info && options.mode != Mode::Verify) {
        return UsageError{"--json goes with --info or --verify"};
    }
    if (modeName.empty()) return UsageError{"options need a mode such as --batch"};
    if (options.paths.empty()) return UsageError{"no path given"};
    return options;
}

}  // namespace tarnic::cli
