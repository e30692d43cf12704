#include "examine/old_demo_watcher.h"

#include "examine/record_facts.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

namespace {

Problem payloadProblem(ProblemKind kind, const OperationPlace& place) {
    Problem problem;
    problem.kind = kind;
    problem.inPayload = true;
    problem.operation = place.index;
    problem.code = place.code;
    problem.bit = place.startBit;
    return problem;
}

}  // namespace

void OldDemoWatcher::noteDataAfterEnd() {
    if (!endedCleanly()) return;
    Problem& problem = report_.problem.emplace();
    problem.kind = ProblemKind::DataAfterEnd;
    problem.record = report_.facts.records;
}

void OldDemoWatcher::write(std::string_view text) {
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

void OldDemoWatcher::converted(const ConvertedRecord& record, const ConversionState& state) {
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

void OldDemoWatcher::ended(InputEnd end, std::optional<std::int32_t> sequence) {
    end_ = end;
    Problem problem;
    problem.record = report_.facts.records;
    problem.sequence = sequence.value_or(0);
    problem.hasSequence = sequence.has_value();
    switch (end) {
        case InputEnd::EndMarker: return;
        case InputEnd::NoEndMarker: problem.kind = ProblemKind::MissingEndMarker; break;
        case InputEnd::HeaderCut:
        case InputEnd::PayloadCut: problem.kind = ProblemKind::RecordCutShort; break;
        case InputEnd::NegativeLength: problem.kind = ProblemKind::BadRecordLength; break;
        case InputEnd::ReadFailed: problem.kind = ProblemKind::ReadFailed; break;
        case InputEnd::Stopped: problem.kind = ProblemKind::MessageTooLarge; break;
    }
    if (!report_.problem) report_.problem = problem;
}

/// A problem of a converted payload as one of the old payload. The conversion keeps
/// every whole operation, in order and with its code, so the operation is the same;
/// the bit becomes where that operation begins in the old payload.
Problem OldDemoWatcher::inOldPayload(const Problem& found) const {
    for (const OperationPlace& place : printedIn_) {
        if (place.index == found.operation) return payloadProblem(found.kind, place);
    }
    // An operation not noted: no content is known to come here. The verdict
    // stands; the bit stays where the new reader found the problem.
    return found;
}

}  // namespace tarnic::examine
