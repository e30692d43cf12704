// The batch through the real program, interrupted.

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
#include <string>
#include <thread>
#include <vector>

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

    /// Reads both streams to their end and waits for the program; one that has not
    /// ended within `limit` is killed and counts as stalled.
    Ended finish(milliseconds limit = milliseconds(20000)) {
        Ended ended;
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
    int errors_ = -1;
    bool reaped_ = false;
};

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

TEST_F(BatchSignals, InterruptedAtAnyMomentLeavesNoTemporaryFileAndOnlyWholeOutputs) {
    constexpr int DEMOS = 60;
    constexpr int RUNS = 200;
    std::map<std::string, Bytes> expected;  ///< by output name
    for (int at = 0; at < DEMOS; ++at) {
        const std::string name = "d" + std::to_string(1000 + at) + ".dm3";
        const Bytes demo = smallDemo(at);
        writeBytes(folder_ / "src" / name, demo);
        expected[name + ".dm_48"] = convertDemo(demo).demo;
    }
    const std::vector<std::string> arguments = {"--batch", "--jobs", "2", "--output-dir", "out", "src"};

    // A whole run first: how long one takes sets the range of the moments to interrupt.
    const auto started = Clock::now();
    const Ended whole = RunningTarnic(folder_, arguments).finish();
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
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
    }
    EXPECT_GT(interrupted, RUNS / 2) << "most runs must end by their signal";
}

}  // namespace
}  // namespace tarnic
