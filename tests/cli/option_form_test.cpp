#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using test::runTarnic;
using test::Streams;

fs::path freshFolder() {
    const fs::path folder = fs::temp_directory_path() / ("tarnic-options-" + std::to_string(getpid()) + "-" +
                                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

TEST(OptionForm, HelpNamesEveryOptionAndVersionIsOneLine) {
    const fs::path folder = freshFolder();
    for (const char* help : {"--help", "-h"}) {
        const auto run = runTarnic(folder, {help}, Streams::OutputAndErrors);
        EXPECT_EQ(run.status, 0) << help;
        for (const char* option : {"--batch", "--output-dir", "--jobs", "--skip-existing", "--verbose", "--help",
                                   "--version", "--verify", "--info", "--json"}) {
            EXPECT_NE(run.output.find(option), std::string::npos) << help << " does not name " << option;
        }
    }
    const auto version = runTarnic(folder, {"--version"}, Streams::OutputAndErrors);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "tarnic 1.0\n");
    fs::remove_all(folder);
}

TEST(OptionForm, UsageErrorsExitWithTwoAndConvertNothing) {
    const fs::path folder = freshFolder();
    std::ofstream(folder / "demo.dm3") << "";
    const std::vector<std::vector<std::string>> commandLines = {
        {"--frobnicate", "demo.dm3"},
        {"--batch", "--frobnicate", "demo.dm3"},
        {"--batch"},
        {"--batch", "--jobs", "0", "demo.dm3"},
        {"--batch", "--jobs=two", "demo.dm3"},
        {"--batch", "--jobs", "2x", "demo.dm3"},
        {"--batch", "demo.dm3", "--jobs"},
        {"--jobs", "2", "demo.dm3"},
        {"--batch", "--version", "demo.dm3"},
        {"--verify", "--info", "demo.dm3"},
        {"--info", "--batch", "demo.dm3"},
        {"--batch", "--json", "demo.dm3"},
        {"--json", "demo.dm3"},
        {"--verify"},
    };
    for (const auto& arguments : commandLines) {
        const std::string shown = ::testing::PrintToString(arguments);
        const auto quiet = runTarnic(folder, arguments);
        EXPECT_EQ(quiet.status, 2) << shown;
        EXPECT_EQ(quiet.output, "") << shown << ": usage errors go to standard error";
        const auto all = runTarnic(folder, arguments, Streams::OutputAndErrors);
        EXPECT_NE(all.output.find("tarnic --help"), std::string::npos) << shown << all.output;
        EXPECT_FALSE(fs::exists(folder / "demo.dm3.dm_48")) << shown;
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tarnic
