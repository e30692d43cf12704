// The batch through the real program, interrupted or handed inputs swapped after
// it listed them.

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
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "demokit/generator.h"
#include "driver/convert.h"
#include "support/demo_file.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

Bytes readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

/// A demo of one record holding one no-op.
Bytes smallDemo(int sequence) {
    Bytes demo;
    test::appendRecord(demo, sequence, {0x01});
    test::appendEndMarker(demo);
    return demo;
}

/// A demo that takes a while to convert.
Bytes largeDemo() {
    demokit::DemoOptions options;
    options.records = 1500;
    options.entities = 200;
    options.fieldDensity = 0.8;
    return demokit::generateDemoBytes(options);
}

struct Ended {
    int status = -1;  ///< the exit status; -1 when a signal ended the program
    int signal = 0;   ///< the signal that ended it, if one did
    bool stalled = false;
    std::string output;
    std::string errors;
};

/// Reads what is there on `file` into `into`; false at its end.
bool readAvailable(int file, std::string& into) {
    char chunk[4096];
    const ssize_t got = read(file, chunk, sizeof chunk);
    if (got > 0) into.append(chunk, std::size_t(got));
    return got > 0 || (got < 0 && errno == EINTR);
}

/// The real program started in a folder, its standard output a pipe (or the terminal
/// given) and its standard error a pipe.
class RunningTarnic {
public:
    RunningTarnic(const fs::path& folder, const std::vector<std::string>& arguments, int terminal = -1) {
        std::vector<std::string> words{TARNIC_EXECUTABLE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string directory = folder.string();
        int output[2], errors[2];
        if (pipe(output) != 0 || pipe(errors) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(terminal >= 0 ? terminal : output[1], STDOUT_FILENO);
            dup2(errors[1], STDERR_FILENO);
            for (const int file : {output[0], output[1], errors[0], errors[1]}) close(file);
            for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(signalNumber, SIG_DFL);
            if (chdir(directory.c_str()) == 0) execv(argv[0], argv.data());
            _exit(127);
        }
        close(output[1]);
        close(errors[1]);
        output_ = output[0];
        errors_ = errors[0];
        if (terminal >= 0) close(output_), output_ = -1;
    }
    ~RunningTarnic() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        closeOutput();
        if (errors_ >= 0) close(errors_);
    }
    RunningTarnic(const RunningTarnic&) = delete;
    RunningTarnic& operator=(const RunningTarnic&) = delete;

    pid_t pid() const { return pid_; }

    /// Stops reading standard output: the program's next write to it meets a closed pipe.
    void closeOutput() {
        if (output_ >= 0) close(output_);
        output_ = -1;
    }

    /// Reads standard output until `text` shows up in it; false when it ends first.
    bool readOutputUntil(const std::string& text) {
        while (output_ >= 0 && outputRead_.find(text) == std::string::npos) {
            if (!readAvailable(output_, outputRead_)) closeOutput();
        }
        return outputRead_.find(text) != std::string::npos;
    }

    /// Reads both streams to their end and waits for the program; one that has not
    /// ended within `limit` is killed and counts as stalled.
    Ended finish(milliseconds limit = milliseconds(20000)) {
        Ended ended;
        ended.output = std::move(outputRead_);
        const auto deadline = Clock::now() + limit;
        bool outputOpen = output_ >= 0, errorsOpen = errors_ >= 0;
        while ((outputOpen || errorsOpen) && Clock::now() < deadline) {
            pollfd files[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
            if (!outputOpen) files[0].fd = -1;
            if (!errorsOpen) files[1].fd = -1;
            if (poll(files, 2, 50) <= 0) continue;
            if (files[0].revents != 0) outputOpen = readAvailable(output_, ended.output);
            if (files[1].revents != 0) errorsOpen = readAvailable(errors_, ended.errors);
        }
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                ended.stalled = true;
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        reaped_ = true;
        if (WIFEXITED(status)) ended.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
        return ended;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string outputRead_;  ///< by readOutputUntil
    int errors_ = -1;
    bool reaped_ = false;
};

/// Stops the program once the temporary file of `output` shows up under `folder`;
/// false when, stopped, it is no longer there (that conversion is over).
bool stopWhileWriting(RunningTarnic& running, const fs::path& folder, const std::string& output) {
    const auto writing = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (entry.path().filename().string().starts_with(output + ".tarnic-")) return true;
        }
        return false;
    };
    const auto deadline = Clock::now() + milliseconds(20000);
    while (!writing() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(100));
    kill(running.pid(), SIGSTOP);
    int status = 0;
    waitpid(running.pid(), &status, WUNTRACED);
    return writing();
}

class BatchSignals : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tarnic-signals-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    /// Every file under `out`, relative to it.
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        std::error_code error;
        for (fs::recursive_directory_iterator entry(folder_ / "out", error), end; !error && entry != end;
             entry.increment(error)) {
            if (entry->is_regular_file()) names.push_back(fs::relative(entry->path(), folder_ / "out").string());
        }
        return names;
    }

    fs::path folder_;
};

const std::regex INTERRUPTED_LINE("tarnic: interrupted after ([0-9]+) of ([0-9]+) inputs; "
                                  "run again with --skip-existing to resume\n");

TEST_F(BatchSignals, InterruptedAtAnyMomentLeavesNoTemporaryFileAndOnlyWholeOutputs) {
    constexpr int DEMOS = 40;
    constexpr int RUNS = 200;
    std::map<std::string, Bytes> expected;  ///< by output name
    for (int at = 0; at < DEMOS; ++at) {
        const std::string name = "d" + std::to_string(1000 + at) + ".dm3";
        const Bytes demo = smallDemo(at);
        writeBytes(folder_ / "src" / name, demo);
        expected[name + ".dm_48"] = convertDemo(demo).demo;
    }
    const std::vector<std::string> arguments = {"--batch", "--jobs", "2", "--output-dir", "out", "src"};

    // A whole run first: how long it takes to its summary sets the range of the moments
    // to interrupt.
    const auto started = Clock::now();
    RunningTarnic first(folder_, arguments);
    ASSERT_TRUE(first.readOutputUntil(" MB read in "));
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
    const Ended whole = first.finish();
    ASSERT_EQ(whole.status, 0) << whole.output << whole.errors;
    ASSERT_EQ(outputs().size(), expected.size());

    const unsigned seed = std::random_device{}();
    std::printf("seed %u, a whole run %lld us\n", seed, static_cast<long long>(length.count()));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(0, length.count());
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    int interrupted = 0;
    for (int run = 0; run < RUNS; ++run) {
        const int signalNumber = signals[run % 4];
        const auto delay = std::chrono::microseconds(moment(random));
        SCOPED_TRACE(std::string(strsignal(signalNumber)) + " after " + std::to_string(delay.count()) + " us");
        fs::remove_all(folder_ / "out");
        RunningTarnic running(folder_, arguments);
        std::this_thread::sleep_for(delay);
        // A closed pipe is met as it is: the reader of the report goes away.
        if (signalNumber == SIGPIPE) {
            running.closeOutput();
        } else {
            kill(running.pid(), signalNumber);
        }
        const Ended ended = running.finish();
        ASSERT_FALSE(ended.stalled);

        std::size_t present = 0;
        for (const std::string& name : outputs()) {
            ASSERT_TRUE(expected.count(name)) << "left behind: " << name;
            EXPECT_TRUE(readBytes(folder_ / "out" / name) == expected[name]) << name << " is not whole";
            ++present;
        }
        if (ended.signal == 0) {
            // Ended before the signal came.
            EXPECT_EQ(ended.status, 0) << ended.errors;
            EXPECT_EQ(present, expected.size());
            EXPECT_EQ(ended.errors, "");
            continue;
        }
        ++interrupted;
        ASSERT_EQ(ended.signal, signalNumber) << ended.errors;
        std::smatch line;
        if (signalNumber == SIGPIPE) {
            EXPECT_EQ(ended.errors, "");
        } else if (ended.errors.empty()) {
            // Before the conversions began, or once the batch was over: nothing to resume.
            EXPECT_TRUE(present == 0 || present == expected.size()) << present << " outputs and no notice";
        } else if (!std::regex_match(ended.errors, line, INTERRUPTED_LINE)) {
            ADD_FAILURE() << "standard error: " << ended.errors;
        } else {
            const std::size_t finished = std::stoul(line[1]);
            EXPECT_EQ(std::stoul(line[2]), expected.size());
            // Every input counted finished has its output; two jobs may finish after the count.
            EXPECT_LE(finished, present);
            EXPECT_LE(present, finished + 2);
        }
    }
    EXPECT_GT(interrupted, RUNS / 2) << "most runs must end by their signal";
}

/// What a terminal shows on its last line after `shown`: a carriage return goes back
/// to the line's start, and text overwrites what is there.
std::string lastLineOnScreen(const std::string& shown) {
    std::string line;
    std::size_t column = 0;
    for (const char letter : shown.substr(shown.rfind('\n') + 1)) {
        if (letter == '\r') {
            column = 0;
            continue;
        }
        if (column == line.size()) line += letter;
        line[column++] = letter;
    }
    return line;
}

TEST_F(BatchSignals, InterruptClearsTheProgressLineAndSaysHowToResume) {
    for (int at = 0; at < 4; ++at) writeBytes(folder_ / "src" / ("a" + std::to_string(at) + ".dm3"), smallDemo(at));
    writeBytes(folder_ / "src/z-large.dm3", largeDemo());
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        fs::remove_all(folder_ / "out");
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(grantpt(terminal), 0);
        ASSERT_EQ(unlockpt(terminal), 0);
        const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        ASSERT_GE(screen, 0);
        RunningTarnic running(folder_, {"--batch", "--jobs", "1", "--output-dir", "out", "src"}, screen);
        close(screen);
        // Interrupted while the large demo converts, the progress line showing.
        std::string shown;
        const auto deadline = Clock::now() + milliseconds(20000);
        while (shown.find("4/5 files") == std::string::npos && Clock::now() < deadline) {
            pollfd file{terminal, POLLIN, 0};
            if (poll(&file, 1, 50) > 0 && !readAvailable(terminal, shown)) break;
        }
        caught = stopWhileWriting(running, folder_ / "out", "z-large.dm3.dm_48");
        kill(running.pid(), SIGINT);
        kill(running.pid(), SIGCONT);
        const Ended ended = running.finish();
        while (readAvailable(terminal, shown)) {}  // the rest, until the program's end closes the terminal
        close(terminal);
        if (!caught) continue;
        EXPECT_EQ(ended.signal, SIGINT);
        EXPECT_EQ(ended.errors, "tarnic: interrupted after 4 of 5 inputs; run again with --skip-existing to resume\n");
        ASSERT_NE(shown.find("4/5 files"), std::string::npos) << shown;
        const std::string lastLine = lastLineOnScreen(shown);
        EXPECT_EQ(lastLine.find_first_not_of(' '), std::string::npos) << "left on the screen: " << lastLine;
    }
    EXPECT_TRUE(caught) << "the large demo was never caught converting";
}

TEST_F(BatchSignals, InputSwappedForANonRegularFileAfterListingFailsWithoutStalling) {
    struct Swap {
        const char* name;
        void (*make)(const fs::path&);
    };
    const Swap swaps[] = {
        {"b-pipe.dm3", [](const fs::path& at) { mkfifo(at.c_str(), 0600); }},
        {"c-zero.dm3", [](const fs::path& at) { fs::create_symlink("/dev/zero", at); }},
        {"d-folder.dm3", [](const fs::path& at) { fs::create_directory(at); }},
    };
    writeBytes(folder_ / "src/a-large.dm3", largeDemo());
    writeBytes(folder_ / "src/e-last.dm3", smallDemo(9));
    // With one job, each input is opened only once the one before it is done: while the
    // large demo converts, the program is stopped and the swaps are made.
    bool swapped = false;
    for (int attempt = 0; attempt < 5 && !swapped; ++attempt) {
        fs::remove_all(folder_ / "out");
        for (const Swap& swap : swaps) {
            fs::remove_all(folder_ / "src" / swap.name);
            writeBytes(folder_ / "src" / swap.name, smallDemo(1));
        }
        RunningTarnic running(folder_, {"--batch", "--jobs", "1", "--output-dir", "out", "src"});
        swapped = stopWhileWriting(running, folder_ / "out", "a-large.dm3.dm_48");
        if (swapped) {
            for (const Swap& swap : swaps) {
                fs::remove(folder_ / "src" / swap.name);
                swap.make(folder_ / "src" / swap.name);
            }
        }
        kill(running.pid(), SIGCONT);
        const Ended ended = running.finish();
        if (!swapped) continue;
        ASSERT_FALSE(ended.stalled) << ended.output;
        EXPECT_EQ(ended.status, 1);
        std::string lines;
        for (const Swap& swap : swaps) lines += std::string("src/") + swap.name + ": FAILED: not a regular file\n";
        EXPECT_NE(ended.output.find(lines + "src/e-last.dm3: converted"), std::string::npos) << ended.output;
        EXPECT_TRUE(fs::exists(folder_ / "out/a-large.dm3.dm_48"));
    }
    EXPECT_TRUE(swapped) << "the large demo was never caught converting";
}

}  // namespace
}  // namespace tarnic
