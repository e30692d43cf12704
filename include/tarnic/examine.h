#pragma once

// Verifies a demo of either protocol and gathers what it holds, in one pass.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "tarnic/byte_stream.h"
#include "tarnic/convert.h"
#include "tarnic/demo_facts.h"
#include "tarnic/problem.h"

namespace tarnic::examine {

/// The two protocols: old demos (.dm3), which the library converts, and new ones (.dm_48).
enum class Protocol { Old, New };

/// The protocol a file name's extension names, ".dm3" or ".dm_48" in any letter case.
std::optional<Protocol> protocolOfName(std::string_view fileName);

/// What verifying a demo found.
struct DemoReport {
    Protocol protocol = Protocol::New;
    /// The first problem found; none when the demo is well-formed.
    std::optional<Problem> problem;
    DemoFacts facts;
    bool wellFormed() const { return !problem; }
};

/// Walks the whole demo record by record. A new demo is read with the new-protocol
/// reader; an old one goes through the converter's own record loop and message
/// transcoding into a sink that keeps nothing, its converted payloads read back in
/// memory for the facts and the verdict: an old demo is well-formed exactly when its
/// conversion is, but for damage the conversion leaves out or ends at. Safe on any
/// bytes; memory grows with the largest record.
/// Throws std::bad_alloc when memory runs out.
DemoReport examineDemo(ByteSource& input, Protocol protocol);

/// The same over bytes in memory: the one call that verifies a demo.
DemoReport examineDemo(std::span<const std::uint8_t> demo, Protocol protocol);

/// Converts an old demo into `result` and examines it, in one pass over its records
/// on one thread: `result` is what convertDemo gives, byte for byte, and the report
/// what examineDemo gives, for about the cost of examining alone. For callers that
/// want both, such as the converter page.
/// Throws std::bad_alloc when memory runs out.
DemoReport convertAndExamineDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result);

}  // namespace tarnic::examine
