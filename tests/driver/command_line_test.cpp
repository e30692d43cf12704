#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "demokit/old_encoder.h"
#include "support/folder_test.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;

const std::string BANNER = "Tarnic 1.0 - converts .dm3 demos to .dm_48\n";

struct RunResult {
    int status = -1;  ///< the exit status; -1 when a signal ended the program
    int signal = 0;   ///< the signal that ended the program, if one did
    std::string output;
    std::string errors;  ///< standard error
};

/// What the program's process gets besides its arguments.
struct ProcessSetup {
    rlim_t fileSizeLimit = RLIM_INFINITY;  ///< beyond it writes fail
    mode_t umask = 022;
    long readBytes = -1;  ///< when not negative, reads of the input fail after this many bytes
};

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (auto& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

/// The real program, started in a folder, its standard output read through a pipe,
/// its standard error kept in a file.
class RunningTarnic {
public:
    RunningTarnic(const fs::path& folder, const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
        const std::string directory = folder.string();
        std::vector<std::string> words{TARNIC_EXECUTABLE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        const std::vector<char*> argv = pointersTo(words);
        const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
        const std::string failingReadOptions =
            std::string("verify_asan_link_order=0:") + (sanitizerOptions ? sanitizerOptions : "");
        const std::string readBytes = std::to_string(setup.readBytes);
        int ends[2];
        errors_ = std::tmpfile();
        if (!errors_ || pipe(ends) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ends[1], STDOUT_FILENO);
            dup2(fileno(errors_), STDERR_FILENO);
            close(ends[0]);
            close(ends[1]);
            const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(signalNumber, SIG_DFL);
            umask(setup.umask);
            if (setup.readBytes >= 0) {
                // Loaded ahead of the sanitizer runtime, which must be told that this is meant.
                setenv("LD_PRELOAD", TARNIC_FAILING_READ, 1);
                setenv("TARNIC_TEST_READ_BYTES", readBytes.c_str(), 1);
                setenv("ASAN_OPTIONS", failingReadOptions.c_str(), 1);
            }
            if (chdir(directory.c_str()) == 0) execv(argv[0], argv.data());
            _exit(127);
        }
        close(ends[1]);
        output_ = ends[0];
    }
    pid_t pid() const { return pid_; }
    /// Reads the output until it holds `text`, or to its end.
    void readUntil(const std::string& text) {
        char chunk[4096];
        ssize_t got;
        while (received_.find(text) == std::string::npos && (got = read(output_, chunk, sizeof chunk)) > 0)
            received_.append(chunk, std::size_t(got));
    }
    /// Reads the output to its end and waits for the program.
    RunResult finish() {
        RunResult result;
        result.output = std::move(received_);
        char chunk[4096];
        ssize_t got;
        while ((got = read(output_, chunk, sizeof chunk)) > 0) result.output.append(chunk, std::size_t(got));
        close(output_);
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return result;
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        std::rewind(errors_);
        while ((got = ssize_t(std::fread(chunk, 1, sizeof chunk, errors_))) > 0) {
            result.errors.append(chunk, std::size_t(got));
        }
        return result;
    }
    ~RunningTarnic() {
        if (errors_) std::fclose(errors_);
    }
    RunningTarnic(const RunningTarnic&) = delete;
    RunningTarnic& operator=(const RunningTarnic&) = delete;

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::FILE* errors_ = nullptr;
    std::string received_;
};

RunResult runTarnic(const fs::path& folder, const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
    return RunningTarnic(folder, arguments, setup).finish();
}

class CommandLine : public test::FolderTest {
protected:
    CommandLine() : FolderTest("tarnic-cli") {}

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
};

test::Bytes smallDemo() {
    test::Bytes demo;
    test::appendRecord(demo, 5, {0x01});
    test::appendEndMarker(demo);
    return demo;
}

std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int time = 0; time < times; ++time) all += text;
    return all;
}

test::Bytes sampleDemo() {
    std::ifstream file(TARNIC_SOURCE_DIR "/examples/sample.dm3", std::ios::binary);
    return test::Bytes(std::istreambuf_iterator<char>(file), {});
}

/// The sample's records four times over, so the file buffers end inside records, then a
/// record longer than those buffers, and the end marker.
test::Bytes largeDemo() {
    const test::Bytes sample = sampleDemo();
    const test::Bytes records(sample.begin(), sample.end() - 8);  // without its end marker
    test::Bytes demo;
    for (int copy = 0; copy < 4; ++copy) demo.insert(demo.end(), records.begin(), records.end());
    demokit::Message message;
    message.operations.resize(500, demokit::ServerCommand{0, "plink \"" + std::string(150, 'x') + "\""});
    for (std::uint32_t i = 0; i < 500; ++i) std::get<demokit::ServerCommand>(message.operations[i]).leading = i;
    test::appendRecord(demo, 1000, demokit::encodeMessage(message));
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

TEST_F(CommandLine, FailuresAreReportedAndKeepTheEarlierOutput) {
    const test::Bytes demo = largeDemo();
    const struct {
        const char* name;
        bool inputIsAFolder;
        ProcessSetup setup;
        const char* reported;  ///< the output's last line
        bool started;          ///< "Converting..." printed before it
    } failures[] = {
        {"a folder as the input", true, {}, "ERROR: unable to open demo.dm3\n", false},
        {"the first read fails", false, {.readBytes = 0}, "ERROR: unable to open demo.dm3\n", false},
        {"a read fails part-way", false, {.readBytes = 150000}, "ERROR: unable to read demo.dm3\n", true},
        {"a write fails part-way", false, {.fileSizeLimit = 100000}, "ERROR: unable to write demo.dm3.dm_48\n", true},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        fs::remove_all(folder_ / "demo.dm3");
        if (failure.inputIsAFolder) fs::create_directory(folder_ / "demo.dm3");
        else writeFile("demo.dm3", demo);
        writeFile("demo.dm3.dm_48", {'o', 'l', 'd'});
        const RunResult run = runTarnic(folder_, {"demo.dm3"}, failure.setup);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.output.starts_with(BANNER + (failure.started ? "Converting...\n" : failure.reported)))
            << run.output.substr(0, 200);
        EXPECT_TRUE(run.output.ends_with(failure.reported)) << run.output.substr(0, 200);
        EXPECT_EQ(run.output.find("created successfully"), std::string::npos);
        EXPECT_EQ(readFile("demo.dm3.dm_48"), (test::Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(fileNames(), (std::set<std::string>{"demo.dm3", "demo.dm3.dm_48"}));
    }
}

TEST_F(CommandLine, InputCutShortWhileConvertingIsAReadError) {
    // Large enough to be still converting when another process cuts it to its first
    // page: a mapped input's pages past the cut then fault, and must not end the program.
    const test::Bytes sample = sampleDemo();
    test::Bytes demo;
    while (demo.size() < (48u << 20)) demo.insert(demo.end(), sample.begin(), sample.end() - 8);
    test::appendEndMarker(demo);
    writeFile("demo.dm3", demo);
    RunningTarnic running(folder_, {"demo.dm3"});
    running.readUntil("Converting...\n");
    fs::resize_file(folder_ / "demo.dm3", 4096);
    const RunResult run = running.finish();
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.ends_with("ERROR: unable to read demo.dm3\n")) << run.output.substr(run.output.size() - 200);
    EXPECT_EQ(fileNames(), std::set<std::string>{"demo.dm3"});
}

TEST_F(CommandLine, StandardErrorSaysWhatStandardOutputLeavesOut) {
    writeFile("a.dm3", smallDemo());
    writeFile("blocked.dm3", smallDemo());
    test::Bytes tenRecords;  // converted into more bytes than the size limit below lets through
    for (std::int32_t sequence = 0; sequence < 10; ++sequence) test::appendRecord(tenRecords, sequence, {0x01});
    test::appendEndMarker(tenRecords);
    writeFile("ten.dm3", tenRecords);
    fs::create_directory(folder_ / "blocked.dm3.dm_48");
    fs::create_directory(folder_ / "demos");
    const std::string converted = BANNER + "Converting...\nNOP server command.\n\na.dm3.dm_48 created successfully!\n";
    const std::string notConverted = " not converted (";
    const std::string onlyTheFirst = "): without --batch only the first is; to convert them all";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        ProcessSetup setup;
        std::string output;
        int status;
        std::string errors;
    } cases[] = {
        {"one more name", {"a.dm3", "b.dm3"}, {}, converted, 0,
         "tarnic: 1 more name" + notConverted + "b.dm3" + onlyTheFirst + ": tarnic --batch a.dm3 b.dm3\n"},
        {"names to quote, one shaped like an option", {"a.dm3", "b c.dm3", "-v", "it's"}, {}, converted, 0,
         "tarnic: 3 more names" + notConverted + "'b c.dm3', -v, 'it'\\''s'" + onlyTheFirst +
             ": tarnic --batch -- a.dm3 'b c.dm3' -v 'it'\\''s'\n"},
        {"a control character, a quote and a byte that is not UTF-8", {"a.dm3", "x\t'y\xFF"}, {}, converted, 0,
         "tarnic: 1 more name" + notConverted + "$'x\\x09\\'y\\xFF'" + onlyTheFirst +
             ": tarnic --batch a.dm3 $'x\\x09\\'y\\xFF'\n"},
        {"a long list", {"a.dm3", "b", "c", "d", "e"}, {}, converted, 0,
         "tarnic: 4 more names" + notConverted + "b, c, d, ..." + onlyTheFirst +
             ", give the same names after --batch: tarnic --batch a.dm3 ...\n"},
        {"a missing input", {"missing.dm3"}, {}, BANNER + "ERROR: unable to open missing.dm3\n", 1,
         "tarnic: missing.dm3: No such file or directory\n"},
        {"a folder as the input, and more names", {"demos", "b"}, {}, BANNER + "ERROR: unable to open demos\n", 1,
         "tarnic: demos is a folder; to convert the demos in it: tarnic --batch demos\n"
         "tarnic: 1 more name" + notConverted + "b" + onlyTheFirst + ": tarnic --batch demos b\n"},
        {"a folder by the output's name", {"blocked.dm3"}, {}, BANNER + "ERROR: unable to create blocked.dm3.dm_48\n", 1,
         "tarnic: blocked.dm3.dm_48: Is a directory\n"},
        {"a full output", {"ten.dm3"}, {.fileSizeLimit = 100},
         BANNER + "Converting...\n" + repeated("NOP server command.\n", 10) + "ERROR: unable to write ten.dm3.dm_48\n",
         1, "tarnic: ten.dm3.dm_48: File too large\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove(folder_ / "a.dm3.dm_48");
        const RunResult run = runTarnic(folder_, test.arguments, test.setup);
        EXPECT_EQ(run.output, test.output);
        EXPECT_EQ(run.status, test.status);
        EXPECT_EQ(run.errors, test.errors);
    }
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

TEST_F(CommandLine, DemosConvertAsInMemoryAndLeaveNothingElseBeside) {
    const test::Bytes sample = sampleDemo();
    test::Bytes flipped = sample;
    flipped[2000] ^= 0x10;
    test::Bytes negativeLength = smallDemo();
    test::appendLittle32(negativeLength, 6);
    test::appendLittle32(negativeLength, 0x80000000u);
    const struct {
        const char* name;
        test::Bytes demo;
    } demos[] = {
        {"an empty file", {}},
        {"one empty record", {5, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
        {"cut inside a payload", test::Bytes(sample.begin(), sample.begin() + 30000)},
        {"cut inside a header", test::Bytes(sample.begin(), sample.begin() + 4)},
        {"a flipped bit", flipped},
        {"a negative length", negativeLength},
        {"larger than the file buffers", largeDemo()},
    };
    for (const auto& demo : demos) {
        SCOPED_TRACE(demo.name);
        writeFile("demo.dm3", demo.demo);
        const ConvertedDemo expected = convertDemo(demo.demo);
        const RunResult run = runTarnic(folder_, {"demo.dm3"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, BANNER + "Converting...\n" + expected.console + "\ndemo.dm3.dm_48 created successfully!\n");
        EXPECT_TRUE(readFile("demo.dm3.dm_48") == expected.demo);
        EXPECT_EQ(fileNames(), (std::set<std::string>{"demo.dm3", "demo.dm3.dm_48"}));
    }
}

TEST_F(CommandLine, TerminationSignalRemovesThePartialOutputAndEndsTheProgramByThatSignal) {
    const test::Bytes sample = sampleDemo();
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        fs::remove(folder_ / "demo.dm3");
        ASSERT_EQ(mkfifo((folder_ / "demo.dm3").c_str(), 0600), 0);
        RunningTarnic running(folder_, {"demo.dm3"});
        // Half a demo, and the input stays open: the program waits for the rest. Opening
        // without blocking fails until the program has opened its end.
        int input = -1;
        for (int wait = 0; wait < 1000 && input < 0; ++wait) {
            input = open((folder_ / "demo.dm3").c_str(), O_WRONLY | O_NONBLOCK);
            if (input < 0) usleep(10000);
        }
        ASSERT_GE(input, 0);
        ASSERT_EQ(write(input, sample.data(), sample.size() / 2), ssize_t(sample.size() / 2));
        bool started = false;
        for (int wait = 0; wait < 1000 && !started; ++wait) {
            started = fileNames().size() > 1;  // the temporary file
            if (!started) usleep(10000);
        }
        EXPECT_TRUE(started);
        kill(running.pid(), signalNumber);
        const RunResult run = running.finish();
        close(input);
        EXPECT_EQ(run.signal, signalNumber) << run.output;
        EXPECT_EQ(fileNames(), std::set<std::string>{"demo.dm3"});
    }
}

TEST_F(CommandLine, NewOutputHasThePermissionsOfAnyNewFile) {
    writeFile("demo.dm3", smallDemo());
    fs::permissions(folder_ / "demo.dm3", fs::perms::owner_read);  // not what the output copies
    for (const mode_t mask : {022, 077, 0}) {
        ProcessSetup setup;
        setup.umask = mask;
        ASSERT_EQ(runTarnic(folder_, {"demo.dm3"}, setup).status, 0);
        struct stat status{};
        ASSERT_EQ(stat((folder_ / "demo.dm3.dm_48").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask) << "umask " << std::oct << mask;
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
