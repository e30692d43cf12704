#include "inspect/new_records.h"

#include <algorithm>
#include <array>

#include "bits/byte_order.h"

namespace tarnic::inspect {

namespace {

constexpr std::uint32_t END_MARKER_WORD = 0xFFFFFFFF;
/// The record length counts the messageHead too.
constexpr std::uint32_t MESSAGE_HEAD_BYTES = 4;
constexpr std::size_t FIRST_PAYLOAD_CHUNK = 64 * 1024;

/// Reads `length` bytes into `into`, growing it only as bytes arrive; false when the input ends first.
bool readGrowing(ByteSource& input, std::vector<std::uint8_t>& into, std::uint32_t length) {
    std::size_t received = 0;
    into.clear();
    while (received < length) {
        const std::size_t chunk = std::min<std::size_t>(length - received, std::max(FIRST_PAYLOAD_CHUNK, received));
        into.resize(received + chunk);
        const std::size_t got = input.read(into.data() + received, chunk);
        received += got;
        if (got < chunk) {
            into.resize(received);
            return false;
        }
    }
    return true;
}

}  // namespace

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
    if (!readGrowing(input_, record_.payload, length - MESSAGE_HEAD_BYTES)) return stop(ProblemKind::RecordCutShort, true);
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

}  // namespace tarnic::inspect
