#include "cli/examine_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/examine_file.h"
#include "cli/examine_text.h"
#include "cli/standard_output.h"
#include "tarnic/report_json.h"

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

int examineAll(const Options& options, Run run) {
    std::vector<FileExamination> files;
    bool badName = false;
    bool failed = false;
    for (const std::string& path : options.paths) {
        FileExamination file = examineFile(path);
        badName = badName || !file.protocol;
        failed = failed || !file.report || (run == Run::Verify && !file.report->wellFormed());
        if (options.json) {
            files.push_back(std::move(file));
            continue;
        }
        // Each file's text goes out as soon as it is known; summaries apart by a blank line.
        if (run == Run::Info && &path != &options.paths.front()) std::fputs("\n", stdout);
        const std::string text = run == Run::Verify ? verifyLine(file) : infoText(file);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.json) std::fputs(examinationJson(files, run == Run::Info).c_str(), stdout);
    if (badName) return withStandardOutputChecked(USAGE_ERROR_STATUS);
    return withStandardOutputChecked(failed ? 1 : 0);
}

}  // namespace

int runVerify(const Options& options) { return examineAll(options, Run::Verify); }

int runInfo(const Options& options) { return examineAll(options, Run::Info); }

}  // namespace tarnic::cli
