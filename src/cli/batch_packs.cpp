#include "cli/batch_packs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <filesystem>
#include <future>
#include <new>

#include "cli/batch_run.h"
#include "packs/pack_names.h"

#ifdef TARNIC_PACKS
#include "cli/convert_file.h"
#include "cli/examine_text.h"
#include "cli/first_damage.h"
#include "cli/temporary_file.h"
#include "driver/record_loop.h"
#include "packs/pack_plan.h"
#include "packs/pack_reader.h"
#include "packs/pack_writer.h"
#include "tarnic/examine.h"
#endif

namespace tarnic::cli {

namespace fs = std::filesystem;

namespace {

FileReport failure(std::string reason) {
    FileReport report;
    report.reason = std::move(reason);
    return report;
}

std::atomic<unsigned> conversionsRunning{0};

}  // namespace

void ConversionCount::start() { conversionsRunning.fetch_add(1, std::memory_order_relaxed); }

bool ConversionCount::tryStartBeside(unsigned jobs) {
    unsigned running = conversionsRunning.load(std::memory_order_relaxed);
    while (running < jobs) {
        if (conversionsRunning.compare_exchange_weak(running, running + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

void ConversionCount::end() { conversionsRunning.fetch_sub(1, std::memory_order_relaxed); }

fs::path packOutputPath(const fs::path& input, const fs::path& relative, const std::optional<std::string>& outputDir) {
    // The members go under a folder named as the pack, so that two packs never mix.
    if (outputDir) return pathFromUtf8(*outputDir) / relative;
#ifdef TARNIC_PACKS
    return input.parent_path() / pathFromUtf8(packs::convertedPackName(utf8Of(input.filename())));
#else
    return input;
#endif
}

#ifndef TARNIC_PACKS

PackOutcome convertPack(const BatchInput& item, const Options&) {
    PackOutcome outcome;
    if (item.named) {
        outcome.pack = failure(PACKS_NOT_BUILT);
    }
    return outcome;
}

#else

namespace {

FileReport skipped(std::string reason) {
    FileReport report;
    report.status = FileReport::Status::Skipped;
    report.reason = std::move(reason);
    return report;
}

/// Bytes moved from a member into its spool at a time.
constexpr std::size_t COPY_BYTES = 64 << 10;

/// The most of a demo member read ahead into a scratch file to convert on another
/// thread: a larger one converts as it is read, so that a member claiming far more
/// than its conversion reads never fills the disk.
constexpr std::uint64_t RAW_SPOOL_LIMIT = 64 << 20;

/// Reads one source to its end, then another.
class ChainedSource final : public ByteSource {
public:
    ChainedSource(ByteSource& first, ByteSource& second) : first_(first), second_(second) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        std::size_t done = onFirst_ ? first_.read(into, count) : 0;
        if (done < count && onFirst_ && !first_.failed()) onFirst_ = false;
        if (done < count && !onFirst_) done += second_.read(into + done, count - done);
        return done;
    }
    bool failed() const override { return first_.failed() || second_.failed(); }

private:
    ByteSource& first_;
    ByteSource& second_;
    bool onFirst_ = true;
};

/// Why a member's conversion failed, in the words of a file's.
std::string readFailure(const packs::PackReader& reader) {
    const std::string why = reader.dataError();
    return why.empty() ? "unable to read" : "unable to read: " + why;
}

/// Converts one pack; throws only what it cannot report per member.
class PackConversion {
public:
    PackConversion(const BatchInput& item, const Options& options)
        : item_(item), options_(options), reader_(utf8Of(item.input)) {}

    PackOutcome run() {
        if (!reader_.opened()) {
            outcome_.pack = failure("unable to open the pack: " + reader_.error());
            return std::move(outcome_);
        }
        if (options_.outputDir) {
            walk();
        } else {
            intoNewPack();
        }
        if (!sawDemo_ && !item_.named) {
            outcome_ = {};  // not a demo pack: left alone, unmentioned
        } else if (!sawDemo_ && !outcome_.pack) {
            outcome_.pack = skipped("no .dm3 member");
        }
        return std::move(outcome_);
    }

private:
    /// The converted pack beside the original, whole or not at all.
    void intoNewPack() {
        const std::string outputPath = utf8Of(item_.output);
        TemporaryFile output(outputPath);
        if (output.file() < 0) {
            outcome_.pack = failure("unable to create " + outputPath + ": " + output.error().message());
            return;
        }
        // The format is known once the first member is: the writer starts then.
        std::unique_ptr<packs::PackWriter> writer;
        const auto startWriter = [&] {
            if (!writer) writer = std::make_unique<packs::PackWriter>(output.file(), reader_.format(), reader_.filter());
        };
        walk([&](const packs::PackMember& member, packs::MemberAction action, packs::Spool* spool) {
            startWriter();
            const packs::MemberStamp stamp{member.modified, member.permissions};
            if (action == packs::MemberAction::Folder) return writer->addFolder(member.name, stamp);
            const std::string name =
                action == packs::MemberAction::Convert ? packs::convertedMemberName(member.name) : member.name;
            return spool->rewind() && writer->addFile(name, spool->size(), spool->source(), stamp);
        });
        if (writerFailed_) {
            if (writer && !writer->error().empty()) outcome_.pack->reason += ": " + writer->error();
            membersNotKept();
            return;
        }
        if (!sawDemo_) return;  // nothing to write: the temporary file goes
        startWriter();
        if (!writer->finish()) {
            outcome_.pack = failure("unable to write " + outputPath + ": " + writer->error());
            membersNotKept();
            return;
        }
        if (!output.commit()) {
            outcome_.pack = failure("unable to write " + outputPath + ": " + output.error().message());
            membersNotKept();
        }
    }

    /// The new pack is not kept, and the members converted into it go with it: none of
    /// them may be reported, or counted, as converted.
    void membersNotKept() {
        for (MemberLine& member : outcome_.members) {
            if (member.report.status == FileReport::Status::Converted) {
                member.report = failure("not kept: the converted pack cannot be written");
            }
        }
    }

    /// Where a member's output goes: put into the new pack by `put`, or, with none,
    /// written as a file under the output folder.
    using Put = std::function<bool(const packs::PackMember&, packs::MemberAction, packs::Spool*)>;

    /// One member's result, waiting to be written and reported in member order.
    struct Done {
        packs::PackMember member;
        packs::MemberAction action = packs::MemberAction::Leave;
        std::optional<MemberLine> line;
        std::unique_ptr<packs::Spool> spool;  ///< the bytes to put into the new pack, if any
    };

    static std::future<Done> ready(Done done) {
        std::promise<Done> promise;
        promise.set_value(std::move(done));
        return promise.get_future();
    }

    /// Reads the members in order. With several jobs, each demo is read into a scratch
    /// file and converted on a thread of its own while the next ones are read, up to
    /// as many at once as there are jobs; results are written and reported in order.
    void walk(const Put& put = {}) {
        put_ = put;
        const std::size_t inFlight = std::max(1u, options_.jobs);
        for (;;) {
            const packs::PackReader::Step step = reader_.next();
            if (step == packs::PackReader::Step::End) break;
            if (step == packs::PackReader::Step::Broken) {
                if (!drain()) return;
                outcome_.pack = failure("damaged pack, no member after this point read: " + reader_.error());
                return;
            }
            const packs::PackMember& member = reader_.member();
            if (member.demo) sawDemo_ = true;
            waiting_.push_back(handle(member, packs::planMember(member)));
            while (waiting_.size() >= inFlight ||
                   (!waiting_.empty() &&
                    waiting_.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
                if (!emit()) return;
            }
        }
        drain();
    }

    /// Writes and reports every member still waiting; false when the new pack failed.
    bool drain() {
        while (!waiting_.empty()) {
            if (!emit()) return false;
        }
        return true;
    }

    /// Writes and reports the first member waiting; false when the new pack cannot be
    /// written any further, and then waits for every conversion left and drops it.
    bool emit() {
        Done done = waiting_.front().get();
        waiting_.pop_front();
        if (put_ && (done.spool || done.action == packs::MemberAction::Folder) &&
            !put_(done.member, done.action, done.spool.get())) {
            writerFailed_ = true;
            outcome_.pack = failure("unable to write " + utf8Of(item_.output) + ", the pack is not kept");
            if (done.line) {
                done.line->report = failure("not written: the converted pack cannot be written");
                outcome_.members.push_back(std::move(*done.line));
            }
            waiting_.clear();  // each waits for its conversion
            return false;
        }
        if (done.line) outcome_.members.push_back(std::move(*done.line));
        return true;
    }

    /// What becomes of one member, read now; its conversion may go on after.
    std::future<Done> handle(const packs::PackMember& member, const packs::MemberPlan& plan) {
        Done done{member, plan.action, std::nullopt, nullptr};
        switch (plan.action) {
        case packs::MemberAction::Leave:
            done.line = line(member, plan.failure ? failure(plan.reason) : skipped(plan.reason));
            return ready(std::move(done));
        case packs::MemberAction::Folder: return ready(std::move(done));
        case packs::MemberAction::Copy:
            if (put_) {
                std::string problem;
                done.spool = spoolBytes(problem);
                if (!done.spool) {
                    done.line = line(member, failure(problem));
                    return ready(std::move(done));
                }
            }
            if (!plan.reason.empty()) done.line = line(member, skipped(plan.reason + (put_ ? "; copied as it is" : "")));
            return ready(std::move(done));
        case packs::MemberAction::Convert: break;
        }
        std::error_code noOutput;
        if (!put_ && options_.skipExisting && fs::is_regular_file(memberOutput(member), noOutput)) {
            done.line = line(member, skipped(""));
            return ready(std::move(done));
        }
        if (std::max(1u, options_.jobs) == 1) {
            return ready(convertMember(std::move(done), reader_.data(), [this] { return readFailure(reader_); }));
        }
        std::string problem;
        bool whole = true;
        std::unique_ptr<packs::Spool> raw = spoolBytes(problem, RAW_SPOOL_LIMIT, &whole);
        if (!raw) {
            done.line = line(member, failure(problem));
            done.line->report.read = true;
            return ready(std::move(done));
        }
        if (!whole) {
            // A member this large converts here, from what was read on: the scratch file
            // never holds more than the limit of what its conversion might not read.
            if (!raw->rewind()) {
                done.line = line(member, failure("unable to read a scratch file"));
                return ready(std::move(done));
            }
            ChainedSource rest(raw->source(), reader_.data());
            return ready(convertMember(std::move(done), rest, [this] { return readFailure(reader_); }));
        }
        auto convertSpooled = [this](Done done, std::unique_ptr<packs::Spool> raw) {
            if (!raw->rewind()) {
                done.line = line(done.member, failure("unable to read a scratch file"));
                return done;
            }
            return convertMember(std::move(done), raw->source(), [] { return std::string("unable to read a scratch file"); });
        };
        // Beside the batch's other conversions, a thread of its own only while a core is free.
        if (!ConversionCount::tryStartBeside(options_.jobs)) return ready(convertSpooled(std::move(done), std::move(raw)));
        return std::async(std::launch::async, [convertSpooled, done = std::move(done), raw = std::move(raw)]() mutable {
            Done result = convertSpooled(std::move(done), std::move(raw));
            ConversionCount::end();
            return result;
        });
    }

    /// The current member's bytes in a scratch file; none, saying why, when they
    /// cannot be read or kept.
    std::unique_ptr<packs::Spool> spoolBytes(std::string& problem, std::uint64_t limit = UINT64_MAX,
                                             bool* whole = nullptr) {
        auto spool = std::make_unique<packs::Spool>();
        if (!spool->opened()) {
            problem = "unable to create a scratch file";
            return nullptr;
        }
        std::vector<std::uint8_t> buffer(COPY_BYTES);
        ByteSource& bytes = reader_.data();
        for (std::size_t got; (got = bytes.read(buffer.data(), buffer.size())) > 0;) {
            if (!spool->sink().write(buffer.data(), got)) {
                problem = "unable to write a scratch file";
                return nullptr;
            }
            if (spool->size() >= limit) {
                *whole = false;
                return spool;
            }
        }
        if (bytes.failed()) {
            problem = readFailure(reader_);
            return nullptr;
        }
        return spool;
    }

    fs::path memberOutput(const packs::PackMember& member) const {
        return item_.output / pathFromUtf8(packs::convertedMemberName(member.name));
    }

    /// Converts a demo member read from `input`: into a scratch file for the new pack,
    /// or into its file under the output folder. Safe on any thread: it touches no
    /// state of the pack's.
    Done convertMember(Done done, ByteSource& input, const std::function<std::string()>& readProblem) const {
        done.line = line(done.member, {});
        FileReport& report = done.line->report;
        DiagnosticsBuffer& diagnostics = *done.line->diagnostics;
        FirstDamage damage;
        report.read = true;
        if (!put_) {
            const fs::path output = memberOutput(done.member);
            std::error_code error;
            fs::create_directories(output.parent_path(), error);
            if (error) {
                report.reason = "unable to create folder " + utf8Of(output.parent_path()) + ": " + error.message();
                return done;
            }
            FileConversionOptions conversionOptions;
            conversionOptions.observer = &damage;
            if (options_.verifyOutputs) conversionOptions.check = verifyWrittenOutput;
            const FileConversion conversion = convertDemoStream(input, utf8Of(output), diagnostics, conversionOptions);
            report.diagnostics = diagnostics.count();
            if (conversion.outcome == FileOutcome::Converted) {
                report.status = FileReport::Status::Converted;
                report.damage = damage.text();
            } else {
                report.reason =
                    conversion.outcome == FileOutcome::CannotRead ? readProblem() : describeConversion(conversion);
            }
            return done;
        }
        auto spool = std::make_unique<packs::Spool>();
        if (!spool->opened()) {
            report.reason = "unable to create a scratch file";
            return done;
        }
        ConversionResult result = ConversionResult::Converted;
        try {
            ConversionState state(diagnostics);
            result = convertRecords(input, spool->sink(), state, &damage);
        } catch (const std::bad_alloc&) {
            report.reason = "out of memory";
            return done;
        }
        report.diagnostics = diagnostics.count();
        switch (result) {
        case ConversionResult::Converted: break;
        case ConversionResult::InputFailed: report.reason = readProblem(); return done;
        case ConversionResult::OutputFailed: report.reason = "unable to write a scratch file"; return done;
        case ConversionResult::MessageTooLarge: report.reason = "converted message too large"; return done;
        }
        if (options_.verifyOutputs) {
            if (!spool->rewind()) {
                report.reason = "unable to write a scratch file";
                return done;
            }
            const examine::DemoReport check = examine::examineDemo(spool->source(), examine::Protocol::New);
            if (check.problem) {
                report.reason = "the output does not verify (not kept): " + problemDescription(*check.problem);
                return done;
            }
        }
        report.status = FileReport::Status::Converted;
        report.damage = damage.text();
        done.spool = std::move(spool);
        return done;
    }

    MemberLine line(const packs::PackMember& member, FileReport report) const {
        return {member.name, std::move(report), std::make_unique<DiagnosticsBuffer>(options_.verbose)};
    }

    const BatchInput& item_;
    const Options& options_;
    packs::PackReader reader_;
    PackOutcome outcome_;
    Put put_;
    std::deque<std::future<Done>> waiting_;
    bool sawDemo_ = false;
    bool writerFailed_ = false;
};

}  // namespace

PackOutcome convertPack(const BatchInput& item, const Options& options) {
    try {
        if (!options.outputDir && options.skipExisting && fs::is_regular_file(item.output)) {
            PackOutcome outcome;
            outcome.pack = skipped("");
            return outcome;
        }
        // A pack met in a folder that holds no demo is left alone, and not rewritten to
        // find out; one that cannot be read might hold demos, so it fails visibly.
        if (!item.named) {
            const packs::PackLook look = packs::lookForDemo(utf8Of(item.input));
            if (!look.holdsDemo && !look.error.empty()) {
                PackOutcome outcome;
                outcome.pack = failure("unable to read the pack: " + look.error);
                return outcome;
            }
            if (!look.holdsDemo) return {};
        }
        return PackConversion(item, options).run();
    } catch (const std::exception& failed) {
        PackOutcome outcome;
        outcome.pack = failure(failed.what());
        return outcome;
    }
}

#endif

}  // namespace tarnic::cli
