#include "cli/batch_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch_inputs.h"
#include "cli/batch_packs.h"
#include "cli/batch_report.h"
#include "cli/convert_file.h"
#include "cli/diagnostics_buffer.h"
#include "cli/examine_file.h"
#include "cli/examine_text.h"
#include "cli/first_damage.h"
#include "cli/platform.h"
#include "cli/standard_output.h"
#include "cli/terminal.h"
#include "cli/termination.h"

namespace tarnic::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// Finished inputs that may wait for an earlier one to be printed, beyond those in
/// flight: the cap on what the batch holds while one slow file is converting.
constexpr std::size_t MAX_WAITING_RESULTS = 64;
constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(200);
constexpr const char* DIAGNOSTIC_INDENT = "    ";

struct FinishedFile {
    FileReport report;
    std::unique_ptr<DiagnosticsBuffer> diagnostics;
    /// A pack's member lines, printed before its own line, which it may not have.
    std::vector<MemberLine> members;
    bool ownLine = true;
};

/// True when an output is there already: a file, or a link to one. A dangling link
/// or a link to a folder is no output; converting replaces it.
bool outputExists(const fs::path& output) {
    std::error_code error;
    return fs::is_regular_file(fs::status(output, error));
}

/// Converts one input; never throws.
FinishedFile convertOne(const BatchInput& item, const Options& options) {
    FinishedFile done;
    FileReport& report = done.report;
    if (item.pack) {
        PackOutcome outcome = convertPack(item, options);
        done.members = std::move(outcome.members);
        done.ownLine = outcome.pack.has_value();
        if (outcome.pack) report = std::move(*outcome.pack);
        return done;
    }
    try {
        done.diagnostics = std::make_unique<DiagnosticsBuffer>(options.verbose);
        if (!item.problem.empty()) {
            report.reason = item.problem;
            return done;
        }
        if (options.skipExisting && outputExists(item.output)) {
            report.status = FileReport::Status::Skipped;
            return done;
        }
        if (options.outputDir && item.output.has_parent_path()) {
            std::error_code error;
            fs::create_directories(item.output.parent_path(), error);
            if (error) {
                report.reason = "unable to create folder " + utf8Of(item.output.parent_path()) + ": " + error.message();
                return done;
            }
        }
        report.read = true;
        FirstDamage damage;
        FileConversionOptions conversionOptions;
        conversionOptions.observer = &damage;
        conversionOptions.inputs = Inputs::RegularFile;
        if (options.verifyOutputs) conversionOptions.check = verifyWrittenOutput;
        const FileConversion conversion =
            convertDemoFile(utf8Of(item.input), utf8Of(item.output), *done.diagnostics, conversionOptions);
        report.diagnostics = done.diagnostics->count();
        if (conversion.outcome == FileOutcome::Converted) {
            report.status = FileReport::Status::Converted;
            report.damage = damage.text();
        } else {
            report.reason = describeConversion(conversion);
        }
    } catch (const std::exception& failure) {
        report.status = FileReport::Status::Failed;
        report.reason = failure.what();
    }
    return done;
}

/// The line redrawn in place below the others while standard output is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { clear(); }

    /// Replaces the line shown; an empty one shows nothing.
    void show(const std::string& line) {
        if (!enabled_ || line.empty()) return;
        lockStream(stdout);
        clear();
        std::fputs(line.c_str(), stdout);
        width_ = line.size();
        unlockStream(stdout);
    }

    /// Blanks the line shown and returns to its start, where the next text goes.
    void clear() {
        if (width_ == 0) return;
        lockStream(stdout);
        if (width_ != 0) std::printf("\r%*s\r", int(width_), "");
        width_ = 0;
        unlockStream(stdout);
    }

    /// Blanks the line for the program's end, on another thread: standard output stays
    /// locked until then, so that nothing is drawn after.
    void clearForTheEnd() {
        if (!enabled_) return;  // a pipe may be full: not waited for
        lockStream(stdout);
        clear();
        std::fflush(stdout);
    }

private:
    bool enabled_;
    std::atomic<std::size_t> width_ = 0;  ///< changed with standard output locked
};

/// Runs the conversions on worker threads and hands their results back in input order.
class BatchRun {
public:
    BatchRun(const std::vector<BatchInput>& inputs, const Options& options)
        : inputs_(inputs), options_(options), slots_(std::size_t(options.jobs) + MAX_WAITING_RESULTS) {
        totals_.files = inputs.size();
        for (const auto& item : inputs) totals_.bytesTotal += item.size;
    }

    int run() {
        ProgressLine progress(isTerminal(stdout));
        // Interrupted, the batch says how far it came and how to go on.
        const InterruptionNotice notice([this, &progress] {
            std::size_t done = 0;
            {
                const std::lock_guard hold(mutex_);
                done = totals_.done;
            }
            progress.clearForTheEnd();
            std::fprintf(stderr, "tarnic: interrupted after %zu of %zu inputs; %s\n", done, inputs_.size(),
                         "run again with --skip-existing to resume");
        });
        const std::size_t workerCount = std::min<std::size_t>(options_.jobs, inputs_.size());
        std::vector<std::thread> workers;
        for (std::size_t at = 0; at < workerCount; ++at) workers.emplace_back([this] { work(); });
        std::unique_lock lock(mutex_);
        while (printed_ < inputs_.size()) {
            finished_.wait_for(lock, PROGRESS_INTERVAL, [this] { return slot(printed_).has_value(); });
            while (printed_ < inputs_.size() && slot(printed_)) {
                FinishedFile file = std::move(*slot(printed_));
                slot(printed_).reset();
                const std::string name = utf8Of(inputs_[printed_].input);
                ++printed_;
                roomFreed_.notify_all();
                lock.unlock();
                progress.clear();
                for (MemberLine& member : file.members) {
                    std::fputs(fileLine(name + ":" + member.member, member.report).c_str(), stdout);
                    if (options_.verbose && member.diagnostics) member.diagnostics->printTo(stdout, DIAGNOSTIC_INDENT);
                }
                if (file.ownLine) std::fputs(fileLine(name, file.report).c_str(), stdout);
                if (options_.verbose && file.diagnostics) file.diagnostics->printTo(stdout, DIAGNOSTIC_INDENT);
                lock.lock();
            }
            const std::string line = printed_ < inputs_.size() ? progressLine(totals_, secondsSinceStart()) : "";
            lock.unlock();
            progress.show(line);
            std::fflush(stdout);
            lock.lock();
        }
        lock.unlock();
        for (auto& worker : workers) worker.join();
        std::fputs(summaryLine(totals_, secondsSinceStart()).c_str(), stdout);
        return withStandardOutputChecked(totals_.failed == 0 ? 0 : 1);
    }

private:
    std::optional<FinishedFile>& slot(std::size_t index) { return slots_[index % slots_.size()]; }
    double secondsSinceStart() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            // Wait while the next result would have no slot to wait in.
            roomFreed_.wait(lock, [this] { return next_ >= inputs_.size() || next_ < printed_ + slots_.size(); });
            if (next_ >= inputs_.size()) return;
            const std::size_t index = next_++;
            lock.unlock();
            ConversionCount::start();
            FinishedFile file = convertOne(inputs_[index], options_);
            ConversionCount::end();
            lock.lock();
            count(inputs_[index], file);
            slot(index) = std::move(file);
            finished_.notify_one();
        }
    }

    void count(const BatchInput& item, const FinishedFile& file) {
        ++totals_.done;
        totals_.bytesDone += item.size;
        bool read = false;
        for (const MemberLine& member : file.members) {
            tally(member.report);
            read = read || member.report.read;
        }
        if (file.ownLine) tally(file.report);
        if (read || file.report.read) totals_.bytesRead += item.size;
    }

    void tally(const FileReport& report) {
        switch (report.status) {
        case FileReport::Status::Converted:
            ++totals_.converted;
            if (report.diagnostics > 0) ++totals_.withDiagnostics;
            if (!report.damage.empty()) ++totals_.damaged;
            break;
        case FileReport::Status::Skipped: ++totals_.skipped; break;
        case FileReport::Status::Failed: ++totals_.failed; break;
        }
    }

    const std::vector<BatchInput>& inputs_;
    const Options& options_;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::condition_variable roomFreed_;
    std::vector<std::optional<FinishedFile>> slots_;
    std::size_t next_ = 0;
    std::size_t printed_ = 0;
    BatchTotals totals_;
    const Clock::time_point start_ = Clock::now();
};

}  // namespace

std::string describeConversion(const FileConversion& conversion) {
    std::string what;
    switch (conversion.outcome) {
    case FileOutcome::Converted: return "converted";
    case FileOutcome::CannotOpen: what = "unable to open"; break;
    case FileOutcome::CannotCreate: what = "unable to create"; break;
    case FileOutcome::CannotRead: what = "unable to read"; break;
    case FileOutcome::CannotWrite: what = "unable to write"; break;
    case FileOutcome::OutOfMemory: return "out of memory";
    case FileOutcome::MessageTooLarge: return "converted message too large";
    case FileOutcome::NotRegular: return "not a regular file";
    case FileOutcome::Refused: return conversion.refusal;
    }
    if (conversion.error) what += ": " + conversion.error.message();
    return what;
}

std::string verifyWrittenOutput(const std::string& temporaryPath) {
    const FileExamination examination = examineFile(temporaryPath, examine::Protocol::New);
    if (!examination.report) return "unable to verify the output: " + examination.error;
    if (examination.report->problem) {
        return "the output does not verify (not kept): " + problemDescription(*examination.report->problem);
    }
    return "";
}

int runBatch(const Options& given) {
    Options options = given;
    if (options.jobs == 0) options.jobs = platform::usableProcessors();
    const std::vector<BatchInput> inputs = collectBatchInputs(options.paths, options.outputDir);
    return BatchRun(inputs, options).run();
}

}  // namespace tarnic::cli
