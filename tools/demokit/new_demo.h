#pragma once

// Splits a new-protocol demo file into its records.

#include <cstdint>
#include <vector>

#include "demokit/old_model.h"

namespace tarnic::demokit {

/// One record of a new-protocol demo.
struct NewRecord {
    std::int32_t sequence = 0;
    std::uint32_t messageHead = 0;
    Bytes payload;
};

/// A new-protocol demo split into its records.
struct NewDemo {
    std::vector<NewRecord> records;
    bool endMarker = false;   ///< ends with the eight 0xFF bytes
    bool wellFramed = true;   ///< no partial record, nothing after the end marker
};

NewDemo splitNewDemo(const Bytes& demo);

}  // namespace tarnic::demokit
