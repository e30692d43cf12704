#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/demo_file.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;

const std::string BANNER = "Tarnic 1.0 - converts .dm3 demos to .dm_48\n";

struct RunResult {
    int status = -1;  ///< the exit status; -1 when a signal ended the program
    int signal = 0;   ///< the signal that ended the program, if one did
    std::string output;
};

/// What the program's process gets besides its arguments.
struct ProcessSetup {
    rlim_t fileSizeLimit = RLIM_INFINITY;  ///< beyond it writes fail (the signal it would raise is ignored)
    mode_t umask = 022;
};

/// The real program, started in a folder, its standard output read through a pipe.
class RunningTarnic {
public:
    RunningTarnic(const fs::path& folder, const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
        // Everything the child needs is made before the fork: after it, only plain system calls.
        const std::string directory = folder.string();
        std::vector<std::string> words{TARNIC_EXECUTABLE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int ends[2];
        if (pipe(ends) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ends[1], STDOUT_FILENO);
            close(ends[0]);
            close(ends[1]);
            const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
            umask(setup.umask);
            if (chdir(directory.c_str()) == 0) execv(argv[0], argv.data());
            _exit(127);
        }
        close(ends[1]);
        output_ = ends[0];
    }
    pid_t pid() const { return pid_; }
    /// Reads the output to its end and waits for the program.
    RunResult finish() {
        RunResult result;
        char chunk[4096];
        ssize_t got;
        while ((got = read(output_, chunk, sizeof chunk)) > 0) result.output.append(chunk, std::size_t(got));
        close(output_);
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return result;
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        return result;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

RunResult runTarnic(const fs::path& folder, const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
    return RunningTarnic(folder, arguments, setup).finish();
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
    /// Every name in the folder: no temporary file may be left among them.
    std::set<std::string> fileNames() {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) names.insert(entry.path().filename().string());
        return names;
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

TEST_F(CommandLine, WriteErrorKeepsTheEarlierOutputAndLeavesNoTemporaryFile) {
    test::Bytes demo;
    for (int i = 0; i < 2000; ++i) test::appendRecord(demo, i, test::Bytes(1000, 0x01));
    writeFile("demo.dm3", demo);
    writeFile("demo.dm3.dm_48", {'o', 'l', 'd'});
    ProcessSetup setup;
    setup.fileSizeLimit = 256 << 10;
    const RunResult run = runTarnic(folder_, {"demo.dm3"}, setup);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Converting...\n"), std::string::npos) << run.output;
    EXPECT_TRUE(run.output.ends_with("ERROR: unable to write demo.dm3.dm_48\n")) << run.output.substr(0, 200);
    EXPECT_EQ(run.output.find("created successfully"), std::string::npos);
    EXPECT_EQ(readFile("demo.dm3.dm_48"), (test::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(fileNames(), (std::set<std::string>{"demo.dm3", "demo.dm3.dm_48"}));
}

TEST_F(CommandLine, OutputNameThatIsALinkIsReplacedNeverWrittenThrough) {
    const struct {
        const char* name;
        void (*link)(const fs::path& input, const fs::path& output);
    } links[] = {
        {"symbolic link to the input", [](const fs::path& input, const fs::path& output) { fs::create_symlink(input, output); }},
        {"hard link to the input", [](const fs::path& input, const fs::path& output) { fs::create_hard_link(input, output); }},
        {"symbolic link to a device", [](const fs::path&, const fs::path& output) { fs::create_symlink("/dev/full", output); }},
    };
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        fs::remove(folder_ / "demo.dm3.dm_48");
        writeFile("demo.dm3", smallDemo());
        link.link(folder_ / "demo.dm3", folder_ / "demo.dm3.dm_48");
        const RunResult run = runTarnic(folder_, {"demo.dm3"});
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(readFile("demo.dm3"), smallDemo());
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder_ / "demo.dm3.dm_48")));
        EXPECT_EQ(fs::hard_link_count(folder_ / "demo.dm3"), 1u);
        EXPECT_EQ(readFile("demo.dm3.dm_48").size(), 21u);
    }
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
