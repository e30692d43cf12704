#include "cli/examine_run.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/batch_inputs.h"
#include "cli/batch_packs.h"
#include "cli/examine_file.h"
#include "cli/examine_text.h"
#include "cli/standard_output.h"
#include "tarnic/report_json.h"

#include "packs/pack_names.h"
#if TARNIC_PACKS
#include "packs/pack_reader.h"
#endif

namespace tarnic::cli {

namespace {

enum class Run { Verify, Info };

/// What --json prints: an array with one object per file, facts included for --info.
std::string examinationJson(const std::vector<FileExamination>& files, bool withFacts) {
    std::vector<examine::ExaminedDemo> demos;
    demos.reserve(files.size());
    for (const FileExamination& file : files) {
        demos.push_back({file.path, file.protocol, file.report ? &*file.report : nullptr, file.error});
    }
    return examine::examinedDemosJson(demos, withFacts);
}

/// Whether a folder walk takes a file: a demo of either protocol, or a pack.
bool isExaminedName(const std::filesystem::path& path) {
    const std::string name = utf8Of(path.filename());
#if TARNIC_PACKS
    if (packs::isPackName(name)) return true;
#endif
    return examine::protocolOfName(name).has_value();
}

/// Prints or keeps each result as it comes, and the status they make.
class Examiner {
public:
    Examiner(const Options& options, Run run) : options_(options), run_(run) {}

    /// A path named on the command line: a folder, a pack or a demo.
    void examineArgument(const std::string& path) {
        std::error_code error;
        const std::filesystem::path named = pathFromUtf8(path);
        if (std::filesystem::is_directory(named, error)) {
            for (const FolderEntry& entry : listFolder(named, isExaminedName)) {
                const std::string found = utf8Of(entry.path);
                if (!entry.problem.empty()) {
                    FileExamination failure;
                    failure.path = found;
                    failure.error = entry.problem;
                    take(std::move(failure));
                } else {
                    examineFileOrPack(found);
                }
            }
            return;
        }
        examineFileOrPack(path);
    }

    int finish() {
        if (options_.json) std::fputs(examinationJson(files_, run_ == Run::Info).c_str(), stdout);
        if (badName_) return withStandardOutputChecked(USAGE_ERROR_STATUS);
        return withStandardOutputChecked(failed_ ? 1 : 0);
    }

private:
    void examineFileOrPack(const std::string& path) {
#if TARNIC_PACKS
        if (packs::isPackName(path)) {
            examinePack(path, [this](FileExamination file) { take(std::move(file)); });
            return;
        }
#else
        if (packs::packSuffixSize(utf8Of(pathFromUtf8(path).filename())) > 0) {
            FileExamination refused;
            refused.path = path;
            refused.error = PACKS_NOT_BUILT;
            take(std::move(refused));
            return;
        }
#endif
        FileExamination file = examineFile(path);
        badName_ = badName_ || !file.protocol;
        take(std::move(file));
    }

    void take(FileExamination file) {
        failed_ = failed_ || !file.report || (run_ == Run::Verify && !file.report->wellFormed());
        if (options_.json) {
            files_.push_back(std::move(file));
            return;
        }
        // Each file's text goes out as soon as it is known; summaries apart by a blank line.
        if (run_ == Run::Info && shown_ > 0) std::fputs("\n", stdout);
        ++shown_;
        const std::string text = run_ == Run::Verify ? verifyLine(file) : infoText(file);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }

    const Options& options_;
    Run run_;
    std::vector<FileExamination> files_;
    std::size_t shown_ = 0;
    bool badName_ = false;
    bool failed_ = false;
};

int examineAll(const Options& options, Run run) {
    Examiner examiner(options, run);
    for (const std::string& path : options.paths) examiner.examineArgument(path);
    return examiner.finish();
}

}  // namespace

int runVerify(const Options& options) { return examineAll(options, Run::Verify); }

int runInfo(const Options& options) { return examineAll(options, Run::Info); }

}  // namespace tarnic::cli
