#include "cli/batch_inputs.h"

#include <algorithm>
#include <numeric>

#include "cli/batch_packs.h"
#include "cli/platform.h"
#include "common/ascii_case.h"
#include "packs/pack_names.h"

namespace tarnic::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* OUTPUT_SUFFIX = ".dm_48";

bool hasDemoExtension(const fs::path& path) { return equalIgnoringAsciiCase(utf8Of(path.extension()), ".dm3"); }

bool hasPackName(const fs::path& path) { return packs::packSuffixSize(utf8Of(path.filename())) > 0; }

#ifdef TARNIC_PACKS
constexpr bool READS_PACKS = true;
#else
constexpr bool READS_PACKS = false;
#endif

/// What the batch takes from a folder: its demos and, where packs are read, its packs.
bool isBatchEntry(const fs::path& path) { return hasDemoExtension(path) || (READS_PACKS && hasPackName(path)); }

class Collector {
public:
    explicit Collector(const std::optional<std::string>& outputDir) : outputDir_(outputDir) {}

    /// A path as named on the command line.
    void addArgument(const fs::path& path) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            addFolder(path);
        } else {
            add(path, path.filename(), true);
        }
    }

    std::vector<BatchInput> take() { return std::move(inputs_); }

private:
    void addFolder(const fs::path& folder) {
        std::vector<FolderEntry> entries;
        walkFolder(folder, isBatchEntry, entries);
        for (FolderEntry& entry : entries) {
            if (entry.problem.empty()) {
                add(entry.path, entry.relative, false);
            } else {
                inputs_.push_back({std::move(entry.path), fs::path(), 0, std::move(entry.problem)});
            }
        }
    }

    void add(const fs::path& input, const fs::path& relative, bool named) {
        BatchInput item{input, fs::path(), 0, {}, !hasDemoExtension(input) && hasPackName(input), named};
        if (item.pack) {
            item.output = packOutputPath(input, relative, outputDir_);
        } else {
            item.output = outputDir_ ? pathFromUtf8(*outputDir_) / relative : input;
            item.output += OUTPUT_SUFFIX;
        }
        std::error_code error;
        const fs::file_status status = fs::status(input, error);
        // A missing file or a dangling link is left to the conversion to report; a pipe
        // or a device would wait or never end.
        if (fs::is_regular_file(status)) {
            item.size = fs::file_size(input, error);
            if (error) item.size = 0;
        } else if (fs::exists(status)) {
            item.problem = "not a regular file";
        }
        inputs_.push_back(std::move(item));
    }

    const std::optional<std::string>& outputDir_;
    std::vector<BatchInput> inputs_;
};

/// What a name leads to, whether or not anything has it yet: an existing file's
/// identity, or the identity of its nearest existing folder and the rest of the name.
/// Two spellings of one file, or of one name not yet taken, get the same place.
struct Place {
    platform::FileIdentity identity;
    std::string rest;
    auto operator<=>(const Place&) const = default;
};

/// The place of the name itself: a link there is what a rename onto it replaces.
std::optional<Place> placeOfName(const fs::path& path) {
    if (const auto identity = platform::identityOf(utf8Of(path), false)) return Place{*identity, ""};
    fs::path rest = path.filename();
    for (fs::path folder = path.parent_path();; folder = folder.parent_path()) {
        const fs::path named = folder.empty() ? fs::path(".") : folder;
        if (const auto identity = platform::identityOf(utf8Of(named), true)) {
            return Place{*identity, utf8Of(rest.lexically_normal())};
        }
        if (folder.empty() || folder == folder.parent_path()) return std::nullopt;
        rest = folder.filename() / rest;
    }
}

/// Marks inputs whose output would replace another input's output, or another input;
/// drops an input named twice (its output the same) but once.
void markClashingOutputs(std::vector<BatchInput>& inputs) {
    // Everything converting an input may touch: the file read and the link naming it.
    std::vector<platform::FileIdentity> inputIdentities;
    for (const auto& item : inputs) {
        for (const bool followLinks : {false, true}) {
            if (const auto identity = platform::identityOf(utf8Of(item.input), followLinks)) {
                inputIdentities.push_back(*identity);
            }
        }
    }
    std::sort(inputIdentities.begin(), inputIdentities.end());

    std::vector<std::optional<Place>> outputs;
    outputs.reserve(inputs.size());
    for (const auto& item : inputs) outputs.push_back(item.output.empty() ? std::nullopt : placeOfName(item.output));
    std::vector<std::size_t> byOutput(inputs.size());
    std::iota(byOutput.begin(), byOutput.end(), std::size_t(0));
    std::stable_sort(byOutput.begin(), byOutput.end(),
                     [&](std::size_t a, std::size_t b) { return outputs[a] < outputs[b]; });
    std::vector<bool> duplicate(inputs.size(), false);
    for (std::size_t at = 0; at < byOutput.size(); ++at) {
        const std::size_t index = byOutput[at];
        BatchInput& item = inputs[index];
        if (!item.problem.empty() || !outputs[index]) continue;
        if (at > 0 && outputs[index] == outputs[byOutput[at - 1]]) {
            const BatchInput& first = inputs[byOutput[at - 1]];
            const auto identity = platform::identityOf(utf8Of(item.input), true);
            if (identity && identity == platform::identityOf(utf8Of(first.input), true)) {
                duplicate[index] = true;
            } else {
                item.problem = "same output as " + utf8Of(first.input);
            }
        } else if (outputs[index]->rest.empty() &&
                   std::binary_search(inputIdentities.begin(), inputIdentities.end(), outputs[index]->identity)) {
            item.problem = "its output " + utf8Of(item.output) + " is another input";
        }
    }
    std::size_t at = 0;
    std::erase_if(inputs, [&](const BatchInput&) { return duplicate[at++]; });
}

void walkBelow(const fs::path& folder, const fs::path& relative, bool (*wanted)(const fs::path&),
               std::vector<FolderEntry>& into) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const fs::directory_entry& entry = *entries;
        std::error_code statusError;
        const bool isLink = entry.is_symlink(statusError);
        if (!isLink && entry.is_directory(statusError)) {
            walkBelow(entry.path(), relative / entry.path().filename(), wanted, into);
        } else if (wanted(entry.path())) {
            if (isLink && fs::is_directory(entry.path(), statusError)) continue;
            into.push_back({entry.path(), relative / entry.path().filename(), {}});
        }
    }
    if (error) into.push_back({folder, relative, "cannot read folder: " + error.message()});
}

}  // namespace

void walkFolder(const fs::path& folder, bool (*wanted)(const fs::path&), std::vector<FolderEntry>& into) {
    walkBelow(folder, fs::path(), wanted, into);
}

std::vector<FolderEntry> listFolder(const fs::path& folder, bool (*wanted)(const fs::path&)) {
    std::vector<FolderEntry> entries;
    walkFolder(folder, wanted, entries);
    std::vector<std::pair<fs::path, std::size_t>> order;
    order.reserve(entries.size());
    for (std::size_t at = 0; at < entries.size(); ++at) order.emplace_back(entries[at].path.lexically_normal(), at);
    std::sort(order.begin(), order.end());
    std::vector<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& [path, at] : order) sorted.push_back(std::move(entries[at]));
    return sorted;
}

fs::path pathFromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::vector<BatchInput> collectBatchInputs(const std::vector<std::string>& paths,
                                           const std::optional<std::string>& outputDir) {
    Collector collector(outputDir);
    for (const auto& path : paths) collector.addArgument(pathFromUtf8(path));
    std::vector<BatchInput> found = collector.take();
    // Sorted and compared by normal form, so that "./a.dm3" and "a.dm3" are one input.
    std::vector<std::pair<fs::path, std::size_t>> order;
    order.reserve(found.size());
    for (std::size_t at = 0; at < found.size(); ++at) order.emplace_back(found[at].input.lexically_normal(), at);
    std::sort(order.begin(), order.end());
    std::vector<BatchInput> inputs;
    inputs.reserve(found.size());
    for (std::size_t at = 0; at < order.size(); ++at) {
        if (at > 0 && order[at].first == order[at - 1].first) continue;
        inputs.push_back(std::move(found[order[at].second]));
    }
    markClashingOutputs(inputs);
    return inputs;
}

}  // namespace tarnic::cli
