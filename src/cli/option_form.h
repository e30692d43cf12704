#pragma once

namespace tarnic::cli {

/// Runs the program's option form (see isOptionForm) and returns its exit status.
int runOptionForm(int argc, const char* const* argv);

}  // namespace tarnic::cli
