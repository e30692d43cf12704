#pragma once

// Gathers a demo's facts record by record from new-protocol payloads.

#include <cstdint>
#include <span>
#include <string_view>

#include "examine/new_reader.h"
#include "tarnic/demo_facts.h"

namespace tarnic::examine {

/// Adds one record's payload, operation by operation as it is read, then the record.
class RecordFacts {
public:
    explicit RecordFacts(DemoFacts& facts) : facts_(facts) {}
    void addOperation(const NewOperation& operation);
    /// Adds the operations of a payload read the fast way.
    void addTally(const PayloadTally& tally);
    void addRecord(std::int32_t sequence, std::uint32_t messageHead);

private:
    DemoFacts& facts_;
    bool snapshot_ = false;  ///< the record holds a snapshot
};

/// Walks a record's payload into the facts; how the walk went.
PayloadWalk addRecordFacts(DemoFacts& facts, std::int32_t sequence, std::uint32_t messageHead,
                           std::span<const std::uint8_t> payload);

/// Counts one diagnostic by its kind.
void addDiagnostic(DemoFacts& facts, std::string_view text);

}  // namespace tarnic::examine
