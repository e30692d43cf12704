#include "cli/inspect_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/inspect_file.h"
#include "cli/inspect_json.h"
#include "cli/inspect_text.h"

namespace tarnic::cli {

namespace {

enum class Run { Verify, Info };

int inspectAll(const Options& options, Run run) {
    std::vector<FileInspection> files;
    bool badName = false;
    bool failed = false;
    for (const std::string& path : options.paths) {
        FileInspection file = inspectFile(path);
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
    if (options.json) std::fputs(inspectionJson(files, run == Run::Info).c_str(), stdout);
    if (badName) return USAGE_ERROR_STATUS;
    return failed ? 1 : 0;
}

}  // namespace

int runVerify(const Options& options) { return inspectAll(options, Run::Verify); }

int runInfo(const Options& options) { return inspectAll(options, Run::Info); }

}  // namespace tarnic::cli
