#include "cli/batch_packs.h"

#include <exception>
#include <filesystem>
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

}  // namespace

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
        outcome.pack = failure("packs are not supported in this build of tarnic; unpack it first, or drop it on "
                               "the converter page, which converts packs");
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
            if (item_.named) outcome_.pack = failure("unable to open the pack: " + reader_.error());
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
            return;
        }
        if (!sawDemo_) return;  // nothing to write: the temporary file goes
        startWriter();
        if (!writer->finish()) {
            outcome_.pack = failure("unable to write " + outputPath + ": " + writer->error());
            return;
        }
        if (!output.commit()) outcome_.pack = failure("unable to write " + outputPath + ": " + output.error().message());
    }

    /// Where a member's output goes: put into the new pack by `put`, or, with none,
    /// written as a file under the output folder.
    using Put = std::function<bool(const packs::PackMember&, packs::MemberAction, packs::Spool*)>;

    void walk(const Put& put = {}) {
        for (;;) {
            const packs::PackReader::Step step = reader_.next();
            if (step == packs::PackReader::Step::End) return;
            if (step == packs::PackReader::Step::Broken) {
                outcome_.pack = failure("damaged pack, no member after this point read: " + reader_.error());
                return;
            }
            const packs::PackMember& member = reader_.member();
            const packs::MemberPlan plan = packs::planMember(member);
            if (member.demo) sawDemo_ = true;
            if (!handle(member, plan, put)) return;
        }
    }

    /// Does what the plan says with one member; false when the new pack cannot be
    /// written any further.
    bool handle(const packs::PackMember& member, const packs::MemberPlan& plan, const Put& put) {
        switch (plan.action) {
        case packs::MemberAction::Leave:
            add(member.name, plan.failure ? failure(plan.reason) : skipped(plan.reason));
            return true;
        case packs::MemberAction::Folder:
            return !put || written(put(member, plan.action, nullptr));
        case packs::MemberAction::Copy:
            if (!put) {
                if (!plan.reason.empty()) add(member.name, skipped(plan.reason));
                return true;
            }
            return copy(member, plan, put);
        case packs::MemberAction::Convert:
            return put ? convertIntoPack(member, put) : convertToFile(member);
        }
        return true;
    }

    bool copy(const packs::PackMember& member, const packs::MemberPlan& plan, const Put& put) {
        packs::Spool spool;
        if (!spool.opened()) {
            add(member.name, failure("unable to create a scratch file"));
            return true;
        }
        std::vector<std::uint8_t> buffer(COPY_BYTES);
        ByteSource& bytes = reader_.data();
        for (std::size_t got; (got = bytes.read(buffer.data(), buffer.size())) > 0;) {
            if (!spool.sink().write(buffer.data(), got)) {
                add(member.name, failure("unable to write a scratch file"));
                return true;
            }
        }
        if (bytes.failed()) {
            add(member.name, failure(readFailure(reader_)));
            return true;
        }
        if (!plan.reason.empty()) add(member.name, skipped(plan.reason + "; copied as it is"));
        return written(put(member, plan.action, &spool));
    }

    bool convertIntoPack(const packs::PackMember& member, const Put& put) {
        MemberLine& line = add(member.name, {});
        packs::Spool spool;
        if (!spool.opened()) {
            line.report.reason = "unable to create a scratch file";
            return true;
        }
        FirstDamage damage;
        line.report.read = true;
        ConversionResult result = ConversionResult::Converted;
        try {
            ConversionState state(*line.diagnostics);
            result = convertRecords(reader_.data(), spool.sink(), state, &damage);
        } catch (const std::bad_alloc&) {
            line.report.reason = "out of memory";
            return true;
        }
        line.report.diagnostics = line.diagnostics->count();
        switch (result) {
        case ConversionResult::Converted: break;
        case ConversionResult::InputFailed: line.report.reason = readFailure(reader_); return true;
        case ConversionResult::OutputFailed: line.report.reason = "unable to write a scratch file"; return true;
        case ConversionResult::MessageTooLarge: line.report.reason = "converted message too large"; return true;
        }
        if (options_.verifyOutputs) {
            if (!spool.rewind()) {
                line.report.reason = "unable to write a scratch file";
                return true;
            }
            const examine::DemoReport check = examine::examineDemo(spool.source(), examine::Protocol::New);
            if (check.problem) {
                line.report.reason = "the output does not verify (not kept): " + problemDescription(*check.problem);
                return true;
            }
        }
        if (!written(put(member, packs::MemberAction::Convert, &spool))) {
            line.report.reason = "not written: the converted pack cannot be written";
            return false;
        }
        line.report.status = FileReport::Status::Converted;
        line.report.damage = damage.text();
        return true;
    }

    bool convertToFile(const packs::PackMember& member) {
        const fs::path output = item_.output / pathFromUtf8(packs::convertedMemberName(member.name));
        if (options_.skipExisting && std::filesystem::is_regular_file(output)) {
            add(member.name, skipped(""));
            return true;
        }
        MemberLine& line = add(member.name, {});
        std::error_code error;
        fs::create_directories(output.parent_path(), error);
        if (error) {
            line.report.reason = "unable to create folder " + utf8Of(output.parent_path()) + ": " + error.message();
            return true;
        }
        FirstDamage damage;
        FileConversionOptions conversionOptions;
        conversionOptions.observer = &damage;
        if (options_.verifyOutputs) conversionOptions.check = verifyWrittenOutput;
        line.report.read = true;
        const FileConversion conversion =
            convertDemoStream(reader_.data(), utf8Of(output), *line.diagnostics, conversionOptions);
        line.report.diagnostics = line.diagnostics->count();
        if (conversion.outcome == FileOutcome::Converted) {
            line.report.status = FileReport::Status::Converted;
            line.report.damage = damage.text();
        } else if (conversion.outcome == FileOutcome::CannotRead) {
            line.report.reason = readFailure(reader_);
        } else {
            line.report.reason = describeConversion(conversion);
        }
        return true;
    }

    /// Notes a failure to write the new pack, which ends it.
    bool written(bool done) {
        if (!done) {
            writerFailed_ = true;
            outcome_.pack = failure("unable to write " + utf8Of(item_.output) + ", the pack is not kept");
        }
        return done;
    }

    MemberLine& add(const std::string& member, FileReport report) {
        outcome_.members.push_back({member, std::move(report), std::make_unique<DiagnosticsBuffer>(options_.verbose)});
        return outcome_.members.back();
    }

    const BatchInput& item_;
    const Options& options_;
    packs::PackReader reader_;
    PackOutcome outcome_;
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
        return PackConversion(item, options).run();
    } catch (const std::exception& failed) {
        PackOutcome outcome;
        outcome.pack = failure(failed.what());
        return outcome;
    }
}

#endif

}  // namespace tarnic::cli
