#pragma once

// Walks a new-protocol payload operation by operation and field by field, to tell
// whether it is well-formed and to report what it carries.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tarnic/problem.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

/// A configuration string of a game state.
struct ConfigEntry {
    std::uint16_t index = 0;
    std::string text;  ///< its bytes, which need not be text of any encoding
};

/// What one operation of a new-protocol payload holds; only the members of its kind are set.
struct NewOperation {
    std::uint8_t code = 0;
    std::size_t bodyBits = 0;  ///< from behind the code to the end of the body, padding excluded

    std::uint32_t leading = 0;  ///< server command and game state
    std::string text;           ///< server command

    std::vector<ConfigEntry> configStrings;   ///< game state, in order
    std::vector<std::uint16_t> baselines;     ///< game state: baseline entity numbers
    std::vector<std::uint8_t> badEntryCodes;  ///< game state: codes other than 0, 3 and 4

    std::uint16_t array2Mask = 0;                  ///< snapshot: entries of masked array 2 sent
    std::array<std::uint16_t, 16> array2Values{};  ///< entry j is meaningful when mask bit j is set
    std::vector<std::uint16_t> entityNumbers;      ///< snapshot: entity list, in order
};

/// How the walk over a payload went.
struct PayloadWalk {
    std::uint64_t operations = 0;  ///< read, the one a problem stopped the walk in included
    /// No problem: every operation is one a message may hold and lies whole inside
    /// the payload, padding bits are zero and the last operation ends in the last byte.
    bool wellFormed = true;
    /// Every operation was read whole, with zero padding: the problems, if any, are
    /// codes only, which the walk steps over as the converter does.
    bool bodiesIntact = true;
    /// The first problem; its record members are left for the caller.
    std::optional<Problem> problem;
};

using OperationVisitor = std::function<void(const NewOperation&)>;

/// Walks a whole payload, handing each operation to `visit` once read, the one a
/// problem stopped the walk in included. Safe on any input: it never reads outside
/// the bytes given, and keeps only the operation being read, so that a payload of
/// many small operations costs no more memory than one of a few.
PayloadWalk walkNewPayload(std::span<const std::uint8_t> payload, const OperationVisitor& visit);

/// A payload read whole, its operations kept.
struct NewPayload {
    std::vector<NewOperation> operations;
    bool wellFormed = true;    ///< as in PayloadWalk
    bool bodiesIntact = true;  ///< as in PayloadWalk
    std::optional<Problem> problem;
};

/// Reads a whole payload, keeping every operation: for payloads of a known size.
NewPayload readNewPayload(std::span<const std::uint8_t> payload);

/// What a demo's facts take from a payload without a game state.
struct PayloadTally {
    std::array<std::uint64_t, OP_SNAPSHOT + 1> operations{};  ///< by code
    std::size_t mostEntities = 0;                             ///< the longest entity list
};

/// Reads a payload the fast way, keeping nothing but `tally`. True when the payload is
/// well-formed and holds no game state; otherwise false, with `tally` unspecified, and
/// the caller reads it with walkNewPayload, which tells what is wrong. Safe on any
/// input, like walkNewPayload.
bool tallyWellFormedPayload(std::span<const std::uint8_t> payload, PayloadTally& tally);

}  // namespace tarnic::examine
