#include "examine/new_records.h"

#include <array>

#include "bits/byte_order.h"
#include "driver/record_framing.h"

namespace tarnic::examine {

const NewRecord* NewRecordReader::stop(ProblemKind kind, bool hasSequence) {
    done_ = true;
    // A short read is the end of the input only when no read failed.
    if (input_.failed()) kind = ProblemKind::ReadFailed;
    Problem& problem = problem_.emplace();
    problem.kind = kind;
    problem.record = records_;
    problem.hasSequence = hasSequence;
    problem.sequence = record_.sequence;
    return nullptr;
}

const NewRecord* NewRecordReader::next() {
    if (done_) return nullptr;
    std::array<std::uint8_t, 12> header;
    const std::size_t got = input_.read(header.data(), 8);
    if (got == 0) return stop(ProblemKind::MissingEndMarker, false);
    record_.sequence = std::int32_t(loadLittle32(header.data()));
    if (got < 8) return stop(ProblemKind::RecordCutShort, got >= 4);
    const std::uint32_t length = loadLittle32(header.data() + 4);
    if (std::uint32_t(record_.sequence) == END_MARKER_WORD && length == END_MARKER_WORD) {
        done_ = true;
        std::uint8_t after;
        if (input_.read(&after, 1) != 0) return stop(ProblemKind::DataAfterEnd, false);
        endedWell_ = true;
        return nullptr;
    }
    // Lengths are signed on the wire, and every record holds its messageHead.
    if (std::int32_t(length) < std::int32_t(MESSAGE_HEAD_BYTES)) return stop(ProblemKind::BadRecordLength, true);
    if (input_.read(header.data() + 8, MESSAGE_HEAD_BYTES) < MESSAGE_HEAD_BYTES) {
        return stop(ProblemKind::RecordCutShort, true);
    }
    record_.messageHead = loadLittle32(header.data() + 8);
    const std::uint32_t payloadBytes = length - MESSAGE_HEAD_BYTES;
    record_.payload.resize(readPayloadBytes(input_, record_.payload, payloadBytes));
    if (record_.payload.size() < payloadBytes) return stop(ProblemKind::RecordCutShort, true);
    ++records_;
    return &record_;
}

NewDemo splitNewDemo(std::span<const std::uint8_t> demo) {
    MemorySource input(demo);
    NewRecordReader reader(input);
    NewDemo result;
    while (const NewRecord* record = reader.next()) result.records.push_back(*record);
    const auto& problem = reader.problem();
    result.wellFramed = reader.endedWell() || (problem && problem->kind == ProblemKind::MissingEndMarker);
    result.endMarker = reader.endedWell() || (problem && problem->kind == ProblemKind::DataAfterEnd);
    return result;
}

}  // namespace tarnic::examine
