#pragma once

// Reads a new-protocol demo record by record: sequence, length (the payload's bytes
// plus 4), messageHead and payload, until the eight 0xFF bytes of the end marker.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tarnic/byte_stream.h"
#include "tarnic/problem.h"

namespace tarnic::examine {

/// One record of a new-protocol demo.
struct NewRecord {
    std::int32_t sequence = 0;
    std::uint32_t messageHead = 0;
    std::vector<std::uint8_t> payload;
};

/// Reads the records of a new demo one at a time. Memory grows with the largest
/// record only as its bytes arrive, so a damaged length cannot make it allocate more
/// than the input holds.
class NewRecordReader {
public:
    explicit NewRecordReader(ByteSource& input) : input_(input) {}

    /// The next record, valid until the next call; nothing at the end marker or at a
    /// framing problem, which `problem()` then gives.
    const NewRecord* next();

    /// Records read so far.
    std::uint64_t records() const { return records_; }
    /// Set once the end marker was read and nothing follows it.
    bool endedWell() const { return endedWell_; }
    /// The framing problem that ended the reading, if any; its payload members are unset.
    const std::optional<Problem>& problem() const { return problem_; }

private:
    const NewRecord* stop(ProblemKind kind, bool hasSequence);

    ByteSource& input_;
    NewRecord record_;
    std::uint64_t records_ = 0;
    bool done_ = false;
    bool endedWell_ = false;
    std::optional<Problem> problem_;
};

/// A new-protocol demo split into its records.
struct NewDemo {
    std::vector<NewRecord> records;
    bool endMarker = false;  ///< ends with the eight 0xFF bytes
    bool wellFramed = true;  ///< whole records, nothing after the end marker, if there is one
};

NewDemo splitNewDemo(std::span<const std::uint8_t> demo);

}  // namespace tarnic::examine
