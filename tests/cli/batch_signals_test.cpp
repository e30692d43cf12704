// The batch through the real program, interrupted, or handed inputs swapped after it
// listed them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "demokit/generator.h"
#ifdef TARNIC_PACKS
#include "packs/pack_builder.h"
#endif
#include "support/folder_test.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::oneNopDemo;
using test::readFileBytes;
using test::writeFileBytes;
using Clock = std::chrono::steady_clock;

/// Reads what `file` holds into `into`, waiting for it until `deadline`; false at its end.
bool readSome(int file, std::string& into, Clock::time_point deadline) {
    pollfd ready{file, POLLIN, 0};
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (file < 0 || wait <= 0 || poll(&ready, 1, int(wait)) <= 0) return false;
    char chunk[4096];
    const ssize_t got = read(file, chunk, sizeof chunk);
    if (got > 0) into.append(chunk, std::size_t(got));
    return got > 0;
}

struct Ended {
    int status = -1;  ///< the exit status; -1 when a signal ended the program
    int signal = 0;   ///< the signal that ended it, if one did
    bool stalled = false;
    std::string output;
    std::string errors;
};

/// The real program started in `folder`, its standard output a pipe (or `terminal`),
/// its standard error the file "errors" there; killed if still running after 20 s.
class RunningTarnic {
public:
    RunningTarnic(const fs::path& folder, std::vector<std::string> words, int terminal = -1)
        : errors_(folder / "errors") {
        words.insert(words.begin(), TARNIC_EXECUTABLE);
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int ends[2];
        const int errors = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (errors < 0 || pipe2(ends, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(terminal >= 0 ? terminal : ends[1], STDOUT_FILENO);
            dup2(errors, STDERR_FILENO);
            for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(signalNumber, SIG_DFL);
            if (chdir(folder.c_str()) == 0) execv(argv[0], argv.data());
            _exit(127);
        }
        close(ends[1]);
        close(errors);
        outputPipe_ = ends[0];
    }
    ~RunningTarnic() {
        if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        closeOutput();
    }
    RunningTarnic(const RunningTarnic&) = delete;
    RunningTarnic& operator=(const RunningTarnic&) = delete;

    pid_t pid() const { return pid_; }

    /// Stops reading standard output: the program's next write to it meets a closed pipe.
    void closeOutput() {
        if (outputPipe_ >= 0) close(outputPipe_);
        outputPipe_ = -1;
    }

    /// Reads standard output until `text` shows up in it; false when it ends first.
    bool readOutputUntil(const std::string& text) {
        while (outputRead_.find(text) == std::string::npos && readSome(outputPipe_, outputRead_, deadline_)) {}
        return outputRead_.find(text) != std::string::npos;
    }

    /// Reads standard output to its end and waits for the program.
    Ended finish() {
        Ended ended;
        ended.output = std::move(outputRead_);
        while (readSome(outputPipe_, ended.output, deadline_)) {}
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            ended.stalled = Clock::now() >= deadline_;
            if (ended.stalled) kill(pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pid_ = -1;
        if (WIFEXITED(status)) ended.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
        const Bytes errors = readFileBytes(errors_);
        ended.errors.assign(errors.begin(), errors.end());
        return ended;
    }

private:
    fs::path errors_;
    const Clock::time_point deadline_ = Clock::now() + std::chrono::seconds(20);
    pid_t pid_ = -1;
    int outputPipe_ = -1;
    std::string outputRead_;  ///< by readOutputUntil
};

/// Stops the program once the temporary file of `output` shows up in `folder`; false
/// when, stopped, it is gone again (that conversion is over).
bool stopWhileWriting(RunningTarnic& running, const fs::path& folder, const std::string& output) {
    const auto writing = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (entry.path().filename().string().starts_with(output + ".tarnic-")) return true;
        }
        return false;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!writing() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(100));
    kill(running.pid(), SIGSTOP);
    int status = 0;
    waitpid(running.pid(), &status, WUNTRACED);
    return writing();
}

class BatchSignals : public test::FolderTest {
protected:
    BatchSignals() : FolderTest("tarnic-signals") {}

    /// A batch of small demos, then one that takes a while: with one job, each input
    /// is opened once the one before is done, and the last is caught converting.
    void writeDemosAndALargeOne(const std::vector<std::string>& small, const std::string& large) {
        for (const std::string& name : small) writeFileBytes(folder_ / "src" / name, oneNopDemo(1));
        demokit::DemoOptions options;
        options.records = 1500;
        options.entities = 200;
        options.fieldDensity = 0.8;
        writeFileBytes(folder_ / "src" / large, demokit::generateDemoBytes(options));
    }
};

/// The counts of the line an interrupted batch ends with; none when `errors` is not that line.
std::optional<std::pair<unsigned long, unsigned long>> interruptedCounts(const std::string& errors) {
    unsigned long finished = 0, total = 0;
    int end = 0;
    const char* pattern = "tarnic: interrupted after %lu of %lu inputs; run again with --skip-existing to resume\n%n";
    if (std::sscanf(errors.c_str(), pattern, &finished, &total, &end) != 2 || std::size_t(end) != errors.size()) {
        return std::nullopt;
    }
    return std::pair{finished, total};
}

/// Runs the program with `arguments` in `folder` `runs` times, each interrupted at a
/// random moment (or its output pipe closed) over the first half of a whole run up to
/// its summary line: a later run may be quicker than the first, which warmed the caches.
/// `outputs` checks what a run left, failing on anything not whole, and counts the
/// outputs present; `clean` removes them before a run. A whole run has `inputs`
/// inputs and leaves `whole` outputs.
void interruptAtRandom(const fs::path& folder, const std::vector<std::string>& arguments, int runs,
                       std::size_t inputs, std::size_t whole, const std::function<void()>& clean,
                       const std::function<std::size_t()>& outputs) {
    const auto started = Clock::now();
    RunningTarnic first(folder, arguments);
    ASSERT_TRUE(first.readOutputUntil(" MB read in "));
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
    ASSERT_EQ(first.finish().status, 0);

    const unsigned seed = std::random_device{}();
    std::printf("seed %u, a whole run %lld us\n", seed, static_cast<long long>(length));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(0, length / 2);
    int interrupted = 0;
    for (int run = 0; run < runs; ++run) {
        const int signalNumber = std::vector{SIGINT, SIGTERM, SIGHUP, SIGPIPE}[run % 4];
        const auto delay = std::chrono::microseconds(moment(random));
        SCOPED_TRACE(std::string(strsignal(signalNumber)) + " after " + std::to_string(delay.count()) + " us");
        clean();
        RunningTarnic running(folder, arguments);
        std::this_thread::sleep_for(delay);
        // A closed pipe comes as it does in use: the reader of the lines goes away.
        if (signalNumber == SIGPIPE) {
            running.closeOutput();
        } else {
            kill(running.pid(), signalNumber);
        }
        const Ended ended = running.finish();
        ASSERT_FALSE(ended.stalled);
        const std::size_t present = outputs();
        if (::testing::Test::HasFatalFailure()) return;
        if (ended.signal == 0) {  // over before the signal came
            EXPECT_EQ(ended.status, 0);
            EXPECT_EQ(present, whole);
            EXPECT_EQ(ended.errors, "");
            continue;
        }
        ++interrupted;
        ASSERT_EQ(ended.signal, signalNumber);
        const auto counts = interruptedCounts(ended.errors);
        if (signalNumber == SIGPIPE) {
            EXPECT_EQ(ended.errors, "");
        } else if (ended.errors.empty()) {
            // Before the conversions began, or once the batch was over: nothing to resume.
            EXPECT_TRUE(present == 0 || present == whole) << present << " outputs and no notice";
        } else if (!counts) {
            ADD_FAILURE() << "standard error: " << ended.errors;
        } else {
            // Every input counted finished has its output; two jobs may finish after the count.
            EXPECT_EQ(counts->second, inputs);
            EXPECT_LE(counts->first, present);
            EXPECT_LE(present, counts->first + 2);
        }
    }
    EXPECT_GT(interrupted, runs / 4) << "the runs must mostly end by their signal";
}

TEST_F(BatchSignals, InterruptedAtAnyMomentLeavesNoTemporaryFileAndOnlyWholeOutputs) {
    constexpr int DEMOS = 40, RUNS = 200;
    std::map<std::string, Bytes> expected;  ///< by output name
    for (int at = 0; at < DEMOS; ++at) {
        const std::string name = "d" + std::to_string(1000 + at) + ".dm3";
        writeFileBytes(folder_ / "src" / name, oneNopDemo(at));
        expected[name + ".dm_48"] = convertDemo(oneNopDemo(at)).demo;
    }
    interruptAtRandom(
        folder_, {"--batch", "--jobs", "2", "--output-dir", "out", "src"}, RUNS, expected.size(), expected.size(),
        [&] { fs::remove_all(folder_ / "out"); },
        [&] {
            std::size_t present = 0;
            std::error_code noFolder;
            for (const auto& entry : fs::recursive_directory_iterator(folder_ / "out", noFolder)) {
                if (entry.is_directory()) continue;
                const std::string name = entry.path().filename().string();
                if (!expected.count(name)) {
                    ADD_FAILURE() << "left behind: " << name;
                    continue;
                }
                EXPECT_TRUE(readFileBytes(entry.path()) == expected[name]) << name << " is not whole";
                ++present;
            }
            return present;
        });
}

#ifdef TARNIC_PACKS
TEST_F(BatchSignals, AnInterruptedPackLeavesNoTemporaryFileAndNoPartialPack) {
    constexpr int DEMOS = 40, RUNS = 100;
    std::vector<test::TestMember> members;
    std::vector<std::pair<std::string, Bytes>> expected;  ///< the converted pack's members
    demokit::DemoOptions large;
    large.records = 1500;
    large.entities = 200;
    large.fieldDensity = 0.8;
    members.push_back({"large.dm3", demokit::generateDemoBytes(large)});
    expected.emplace_back("large.dm3.dm_48", convertDemo(members.back().bytes).demo);
    for (int at = 0; at < DEMOS; ++at) {
        const std::string name = "d" + std::to_string(1000 + at) + ".dm3";
        members.push_back({name, oneNopDemo(at)});
        expected.emplace_back(name + ".dm_48", convertDemo(oneNopDemo(at)).demo);
    }
    test::buildPack(folder_ / "src/pack.zip", packs::PackFormat::Zip, packs::PackFilter::None, members);
    interruptAtRandom(
        folder_, {"--batch", "--jobs", "2", "src/pack.zip"}, RUNS, 1, 1,
        [&] { fs::remove(folder_ / "src/pack.dm_48.zip"); },
        [&] {
            std::size_t present = 0;
            for (const auto& entry : fs::directory_iterator(folder_ / "src")) {
                const std::string name = entry.path().filename().string();
                if (name == "pack.zip") continue;
                if (name != "pack.dm_48.zip") {
                    ADD_FAILURE() << "left behind: " << name;
                    continue;
                }
                const auto found = test::readPackMembers(entry.path());
                EXPECT_TRUE(found == expected) << "the converted pack is not whole";
                ++present;
            }
            return present;
        });
}
#endif

TEST_F(BatchSignals, InterruptClearsTheProgressLineAndSaysHowToResume) {
    writeDemosAndALargeOne({"a0.dm3", "a1.dm3", "a2.dm3", "a3.dm3"}, "z-large.dm3");
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        fs::remove_all(folder_ / "out");
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
        const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        RunningTarnic running(folder_, {"--batch", "--jobs", "1", "--output-dir", "out", "src"}, screen);
        close(screen);
        // Interrupted while the large demo converts, the progress line showing.
        std::string shown;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (shown.find("4/5 files") == std::string::npos && readSome(terminal, shown, deadline)) {}
        caught = stopWhileWriting(running, folder_ / "out", "z-large.dm3.dm_48");
        kill(running.pid(), SIGINT);
        kill(running.pid(), SIGCONT);
        const Ended ended = running.finish();
        while (readSome(terminal, shown, deadline)) {}  // until the program's end closes the terminal
        close(terminal);
        if (!caught) continue;
        EXPECT_EQ(ended.signal, SIGINT);
        EXPECT_EQ(ended.errors, "tarnic: interrupted after 4 of 5 inputs; run again with --skip-existing to resume\n");
        ASSERT_NE(shown.find("4/5 files"), std::string::npos) << shown;
        // The screen's last line: a carriage return goes back to its start, text overwrites.
        std::string lastLine;
        std::size_t column = 0;
        for (const char letter : shown.substr(shown.rfind('\n') + 1)) {
            if (letter == '\r') {
                column = 0;
            } else {
                if (column == lastLine.size()) lastLine += ' ';
                lastLine[column++] = letter;
            }
        }
        EXPECT_EQ(lastLine.find_first_not_of(' '), std::string::npos) << "left on the screen: " << lastLine;
    }
    EXPECT_TRUE(caught) << "the large demo was never caught converting";
}

TEST_F(BatchSignals, InputSwappedForANonRegularFileAfterListingFailsWithoutStalling) {
    const std::map<std::string, void (*)(const fs::path&)> swaps = {
        {"b-pipe.dm3", [](const fs::path& at) { mkfifo(at.c_str(), 0600); }},
        {"c-zero.dm3", [](const fs::path& at) { fs::create_symlink("/dev/zero", at); }},
        {"d-folder.dm3", [](const fs::path& at) { fs::create_directory(at); }},
    };
    writeFileBytes(folder_ / "src/e-last.dm3", oneNopDemo(9));
    bool swapped = false;
    for (int attempt = 0; attempt < 5 && !swapped; ++attempt) {
        fs::remove_all(folder_ / "out");
        for (const auto& [name, make] : swaps) fs::remove_all(folder_ / "src" / name);
        writeDemosAndALargeOne({"b-pipe.dm3", "c-zero.dm3", "d-folder.dm3"}, "a-large.dm3");
        RunningTarnic running(folder_, {"--batch", "--jobs", "1", "--output-dir", "out", "src"});
        // Stopped while the first input converts: the next ones are swapped meanwhile.
        swapped = stopWhileWriting(running, folder_ / "out", "a-large.dm3.dm_48");
        for (const auto& [name, make] : swaps) {
            if (!swapped) break;
            fs::remove(folder_ / "src" / name);
            make(folder_ / "src" / name);
        }
        kill(running.pid(), SIGCONT);
        const Ended ended = running.finish();
        if (!swapped) continue;
        ASSERT_FALSE(ended.stalled) << ended.output;
        EXPECT_EQ(ended.status, 1);
        std::string lines;
        for (const auto& [name, make] : swaps) lines += "src/" + name + ": FAILED: not a regular file\n";
        EXPECT_NE(ended.output.find(lines + "src/e-last.dm3: converted"), std::string::npos) << ended.output;
        EXPECT_TRUE(fs::exists(folder_ / "out/a-large.dm3.dm_48"));
    }
    EXPECT_TRUE(swapped) << "the large demo was never caught converting";
}

}  // namespace
}  // namespace tarnic
