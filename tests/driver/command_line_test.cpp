#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/demo_file.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;

const std::string BANNER = "Tarnic 1.0 - converts .dm3 demos to .dm_48\n";

struct RunResult {
    int status = -1;
    std::string output;
};

/// Runs the real program in `folder` with the given arguments and collects its standard output.
RunResult runTarnic(const fs::path& folder, const std::vector<std::string>& arguments) {
    std::string command = "cd '" + folder.string() + "' && '" TARNIC_EXECUTABLE "'";
    for (const auto& argument : arguments) command += " '" + argument + "'";
    RunResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tarnic-cli-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, ignored);
        fs::remove_all(folder_, ignored);
    }
    void writeFile(const std::string& name, const test::Bytes& bytes) {
        std::ofstream(folder_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               std::streamsize(bytes.size()));
    }
    test::Bytes readFile(const std::string& name) {
        std::ifstream file(folder_ / name, std::ios::binary);
        return test::Bytes(std::istreambuf_iterator<char>(file), {});
    }
    fs::path folder_;
};

test::Bytes smallDemo() {
    test::Bytes demo;
    test::appendRecord(demo, 5, {0x01});
    test::appendEndMarker(demo);
    return demo;
}

TEST_F(CommandLine, UsageLineForNoArgumentOrQuestionMark) {
    writeFile("-?", smallDemo());
    for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"-?"}}) {
        const RunResult run = runTarnic(folder_, arguments);
        EXPECT_EQ(run.output, BANNER + "Usage: Tarnic <filename.dm3>\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_FALSE(fs::exists(folder_ / "-?.dm_48"));
}

TEST_F(CommandLine, MissingInputIsReportedAndNoOutputIsCreated) {
    const RunResult run = runTarnic(folder_, {"demo.dm3"});
    EXPECT_EQ(run.output, BANNER + "ERROR: unable to open demo.dm3\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(folder_ / "demo.dm3.dm_48"));
}

TEST_F(CommandLine, ConvertsBesideTheInputKeepingItsExtension) {
    writeFile("a.b", smallDemo());
    const RunResult run = runTarnic(folder_, {"a.b", "ignored-extra-argument"});
    EXPECT_EQ(run.output, BANNER + "Converting...\nNOP server command.\n\na.b.dm_48 created successfully!\n");
    EXPECT_EQ(run.status, 0);
    test::Bytes expected;
    test::appendLittle32(expected, 5);
    test::appendLittle32(expected, 5);
    test::appendLittle32(expected, 0);
    expected.push_back(0x01);
    expected.insert(expected.end(), 8, 0xFF);
    EXPECT_EQ(test::hexText(readFile("a.b.dm_48")), test::hexText(expected));
}

TEST_F(CommandLine, ArgumentsLongerThan256CharactersWork) {
    const std::string folder(120, 'f');
    fs::create_directories(folder_ / folder / folder);
    const std::string name = folder + "/" + folder + "/" + std::string(100, 'n');
    writeFile(name, smallDemo());
    const RunResult run = runTarnic(folder_, {name});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(fs::exists(folder_ / (name + ".dm_48")));
}

TEST_F(CommandLine, OutputThatCannotBeCreatedIsReported) {
    writeFile("demo.dm3", smallDemo());
    fs::create_directory(folder_ / "demo.dm3.dm_48");  // a folder where the output should go
    const RunResult run = runTarnic(folder_, {"demo.dm3"});
    EXPECT_EQ(run.output, BANNER + "ERROR: unable to create demo.dm3.dm_48\n");
    EXPECT_EQ(run.status, 1);
}

TEST_F(CommandLine, FullDiskIsAnErrorNotASuccess) {
    test::Bytes demo;
    for (int i = 0; i < 2000; ++i) test::appendRecord(demo, i, test::Bytes(1000, 0x01));
    writeFile("demo.dm3", demo);
    fs::create_symlink("/dev/full", folder_ / "demo.dm3.dm_48");
    const RunResult run = runTarnic(folder_, {"demo.dm3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("ERROR: unable to write demo.dm3.dm_48\n"), std::string::npos);
    EXPECT_EQ(run.output.find("created successfully"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ / "demo.dm3.dm_48")));
}

TEST_F(CommandLine, FolderWithoutWritePermissionIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    writeFile("demo.dm3", smallDemo());
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    const RunResult run = runTarnic(folder_, {"demo.dm3"});
    EXPECT_EQ(run.output, BANNER + "ERROR: unable to create demo.dm3.dm_48\n");
    EXPECT_EQ(run.status, 1);
}

}  // namespace
}  // namespace tarnic
