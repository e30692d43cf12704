#pragma once

// What a demo holds: the facts gathered while verifying it (tarnic/examine.h).

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnic::examine {

/// A configuration string that is an info string, as its pairs.
struct InfoTable {
    std::uint16_t index = 0;  ///< configuration-string index, new numbering
    /// Key and value bytes in text order; a key that repeats keeps its first value, as lookups do.
    std::vector<std::pair<std::string, std::string>> pairs;
};

/// A diagnostic a conversion printed, with the numbers in it replaced by "N", and how often.
struct DiagnosticCount {
    std::string kind;
    std::uint64_t count = 0;
};

struct DemoFacts {
    std::uint64_t bytes = 0;    ///< the demo's size
    std::uint64_t records = 0;  ///< message records; the end marker is none
    std::int32_t lowestSequence = 0;
    std::int32_t highestSequence = 0;
    /// Operations read, by code.
    std::array<std::uint64_t, 256> operations{};
    std::uint64_t snapshotRecords = 0;  ///< records holding a snapshot
    std::uint32_t lowestMessageHead = 0;
    std::uint32_t highestMessageHead = 0;
    std::size_t mostEntities = 0;  ///< the longest entity list of one snapshot
    bool gameStateSeen = false;
    /// The first game state's info strings other than player infos, by index.
    std::vector<InfoTable> infoStrings;
    /// The first game state's player info strings, by index.
    std::vector<InfoTable> players;
    /// The conversion's diagnostics by kind, in the order first seen (old demos only).
    std::vector<DiagnosticCount> diagnostics;
};

}  // namespace tarnic::examine
