#include "cli/standard_output.h"

#include <cerrno>
#include <system_error>

namespace tarnic::cli {

bool finishStandardOutput() {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int reason = errno;
    if (flushed && !std::ferror(stdout)) return true;
    // A failure of an earlier write left its mark but perhaps no reason behind.
    const std::string why = reason != 0 ? std::generic_category().message(reason) : "write error";
    std::fprintf(stderr, "tarnic: error writing standard output: %s\n", why.c_str());
    return false;
}

int withStandardOutputChecked(int status) {
    const bool whole = finishStandardOutput();
    return status == 0 && !whole ? 1 : status;
}

}  // namespace tarnic::cli
