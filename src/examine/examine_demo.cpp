#include "tarnic/examine.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/ascii_case.h"
#include "driver/record_loop.h"
#include "examine/new_records.h"
#include "examine/record_facts.h"
#include "tarnic/console.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

namespace {

/// Passes reads through and counts the bytes they deliver.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(ByteSource& inner) : inner_(inner) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const std::size_t got = inner_.read(into, count);
        bytes += got;
        return got;
    }
    bool failed() const override { return inner_.failed(); }
    const std::uint8_t* borrow(std::size_t count) override {
        const std::uint8_t* borrowed = inner_.borrow(count);
        if (borrowed) bytes += count;
        return borrowed;
    }
    std::uint64_t bytes = 0;

private:
    ByteSource& inner_;
};

class DiscardingSink final : public ByteSink {
public:
    bool write(const std::uint8_t*, std::size_t) override { return true; }
};

void examineNewDemo(ByteSource& input, DemoReport& report) {
    NewRecordReader records(input);
    while (const NewRecord* record = records.next()) {
        const PayloadWalk walk = addRecordFacts(report.facts, record->sequence, record->messageHead, record->payload);
        if (walk.problem && !report.problem) {
            report.problem = walk.problem;
            report.problem->record = records.records() - 1;
            report.problem->hasSequence = true;
            report.problem->sequence = record->sequence;
        }
    }
    if (records.problem() && !report.problem) report.problem = records.problem();
}

/// Watches the converter's record loop over an old demo. An old demo is well-formed
/// exactly when its conversion is, but for the damage the conversion leaves out: each
/// converted payload is read with the new reader, and what it finds there is the old
/// demo's problem too, placed at the old operation. The only problem the conversion
/// does not keep is an operation cut by the end of its payload, which is left out.
class OldDemoWatcher final : public Console, public RecordObserver {
public:
    /// `echo`, when given, takes the diagnostics too, as the conversion's console would.
    explicit OldDemoWatcher(DemoReport& report, Console* echo = nullptr) : report_(report), echo_(echo) {}

    void watch(const ConversionState& state) { state_ = &state; }
    InputEnd end() const { return end_; }

    void write(std::string_view text) override {
        if (echo_) echo_->write(text);
        addDiagnostic(report_.facts, text);
        if (!state_) return;
        // The converter prints in every operation that holds what the new reader
        // rejects, while the state names it: where it begins in the old payload is
        // known from here. Such content is a code a message may not hold, which is
        // the first problem at the latest, or an unknown game state entry code; only
        // those operations are noted, so that memory grows with them alone.
        const OperationPlace& place = state_->operation;
        const bool mayBeRejected = place.code == OP_GAMESTATE || !isMessageOperation(place.code);
        const bool noted = !printedIn_.empty() && printedIn_.back().index == place.index;
        const bool badCodeNoted = !printedIn_.empty() && !isMessageOperation(printedIn_.back().code);
        if (mayBeRejected && !noted && !badCodeNoted) printedIn_.push_back(place);
    }

    void converted(const ConvertedRecord& record, const ConversionState& state) override {
        const PayloadWalk walk = addRecordFacts(report_.facts, record.sequence, record.messageHead, record.newPayload);
        std::optional<Problem> problem;
        if (walk.problem) {
            problem = inOldPayload(*walk.problem);
        } else if (record.end == MessageEnd::Truncated) {
            problem = payloadProblem(ProblemKind::FieldPastEnd, state.operation);
        }
        if (problem && !report_.problem) {
            report_.problem = problem;
            report_.problem->record = report_.facts.records - 1;
            report_.problem->hasSequence = true;
            report_.problem->sequence = record.sequence;
        }
        printedIn_.clear();
    }

    void ended(InputEnd end, std::optional<std::int32_t> sequence) override {
        end_ = end;
        Problem problem;
        problem.record = report_.facts.records;
        problem.sequence = sequence.value_or(0);
        problem.hasSequence = sequence.has_value();
        switch (end) {
            case InputEnd::EndMarker: return;
            case InputEnd::NoEndMarker:
                problem.kind = ProblemKind::MissingEndMarker;
                break;
            case InputEnd::HeaderCut:
            case InputEnd::PayloadCut: problem.kind = ProblemKind::RecordCutShort; break;
            case InputEnd::NegativeLength: problem.kind = ProblemKind::BadRecordLength; break;
            case InputEnd::ReadFailed: problem.kind = ProblemKind::ReadFailed; break;
            case InputEnd::Stopped: problem.kind = ProblemKind::MessageTooLarge; break;
        }
        if (!report_.problem) report_.problem = problem;
    }

private:
    static Problem payloadProblem(ProblemKind kind, const OperationPlace& place) {
        Problem problem;
        problem.kind = kind;
        problem.inPayload = true;
        problem.operation = place.index;
        problem.code = place.code;
        problem.bit = place.startBit;
        return problem;
    }

    /// A problem of a converted payload as one of the old payload. The conversion keeps
    /// every whole operation, in order and with its code, so the operation is the same;
    /// the bit becomes where that operation begins in the old payload.
    Problem inOldPayload(const Problem& found) const {
        for (const OperationPlace& place : printedIn_) {
            if (place.index == found.operation) return payloadProblem(found.kind, place);
        }
        // An operation not noted: no content is known to come here. The verdict
        // stands; the bit stays where the new reader found the problem.
        return found;
    }

    DemoReport& report_;
    Console* echo_;
    const ConversionState* state_ = nullptr;
    /// The current record's operations that printed and may hold what the new reader rejects.
    std::vector<OperationPlace> printedIn_;
    InputEnd end_ = InputEnd::NoEndMarker;
};

/// Examines an old demo, converting it into `output` (its diagnostics also to `echo`
/// when given): how the conversion ended.
ConversionResult examineOldDemo(ByteSource& input, DemoReport& report, ByteSink& output, Console* echo) {
    OldDemoWatcher watcher(report, echo);
    ConversionState state(watcher);
    watcher.watch(state);
    const ConversionResult result = convertRecords(input, output, state, &watcher);
    if (watcher.end() != InputEnd::EndMarker || report.problem) return result;
    std::uint8_t after;
    if (input.read(&after, 1) != 0) {
        Problem& problem = report.problem.emplace();
        problem.kind = ProblemKind::DataAfterEnd;
        problem.record = report.facts.records;
    }
    return result;
}

/// Reads what is left of the input, so that it counts towards the size. A small
/// buffer: some targets give the stack no more than 64 KiB.
void drain(ByteSource& input) {
    std::array<std::uint8_t, 4096> rest;
    while (input.read(rest.data(), rest.size()) > 0) {
    }
}

}  // namespace

std::optional<Protocol> protocolOfName(std::string_view fileName) {
    if (endsWithIgnoringAsciiCase(fileName, ".dm3")) return Protocol::Old;
    if (endsWithIgnoringAsciiCase(fileName, ".dm_48")) return Protocol::New;
    return std::nullopt;
}

DemoReport examineDemo(ByteSource& input, Protocol protocol) {
    DemoReport report;
    report.protocol = protocol;
    CountingSource counted(input);
    if (protocol == Protocol::New) {
        examineNewDemo(counted, report);
    } else {
        DiscardingSink nowhere;
        examineOldDemo(counted, report, nowhere, nullptr);
    }
    drain(counted);
    report.facts.bytes = counted.bytes;
    return report;
}

DemoReport examineDemo(std::span<const std::uint8_t> demo, Protocol protocol) {
    MemorySource input(demo);
    return examineDemo(input, protocol);
}

DemoReport convertAndExamineDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result) {
    result.demo.clear();
    result.console.clear();
    // As convertDemo: the new demo is about as long as the old one.
    result.demo.reserve(oldDemo.size() + oldDemo.size() / 8 + 64);
    DemoReport report;
    report.protocol = Protocol::Old;
    MemorySource source(oldDemo);
    CountingSource counted(source);
    MemorySink output(result.demo);
    CollectingConsole console;
    result.outcome = examineOldDemo(counted, report, output, &console);
    drain(counted);
    report.facts.bytes = counted.bytes;
    result.console = console.text();
    return report;
}

}  // namespace tarnic::examine
