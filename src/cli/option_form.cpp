#include "cli/option_form.h"

#include <cstdio>

#include "cli/batch_run.h"
#include "cli/examine_run.h"
#include "cli/help_text.h"
#include "cli/options.h"

namespace tarnic::cli {

int runOptionForm(const std::vector<std::string>& arguments) {
    const auto parsed = parseOptions(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "tarnic: %s\nTry 'tarnic --help' for more information.\n", error->message.c_str());
        return USAGE_ERROR_STATUS;
    }
    const Options& options = std::get<Options>(parsed);
    switch (options.mode) {
    case Mode::Help: std::fputs(helpText().c_str(), stdout); return 0;
    case Mode::Version: std::fputs(versionLine().c_str(), stdout); return 0;
    case Mode::Batch: return runBatch(options);
    case Mode::Verify: return runVerify(options);
    case Mode::Info: return runInfo(options);
    case Mode::SingleFile: break;
    }
    return USAGE_ERROR_STATUS;
}

}  // namespace tarnic::cli
