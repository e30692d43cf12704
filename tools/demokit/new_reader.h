#pragma once

// Walks a new-protocol payload operation by operation and field by field, to tell
// whether a converter's output is well-formed and to report what it carries.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "demokit/old_model.h"

namespace tarnic::demokit {

/// What one operation of a new-protocol payload holds; only the members of its kind are set.
struct NewOperation {
    std::uint8_t code = 0;
    std::size_t bodyBits = 0;  ///< from behind the code to the end of the body, padding excluded

    std::uint32_t leading = 0;  ///< server command and game state
    std::string text;           ///< server command

    std::vector<ConfigString> configStrings;  ///< game state, in order
    std::vector<std::uint16_t> baselines;     ///< game state: baseline entity numbers
    std::vector<std::uint8_t> badEntryCodes;  ///< game state: codes other than 0, 3 and 4

    std::uint16_t array2Mask = 0;                  ///< snapshot: entries of masked array 2 sent
    std::array<std::uint16_t, 16> array2Values{};  ///< entry j is meaningful when mask bit j is set
    std::vector<std::uint16_t> entityNumbers;      ///< snapshot: entity list, in order
};

struct NewPayload {
    std::vector<NewOperation> operations;
    /// Every operation lies whole inside the payload, padding bits are zero and the
    /// last operation ends in the last byte.
    bool wellFormed = true;
    std::string problem;  ///< why it is not well-formed
};

/// Reads a whole payload. Safe on any input: it never reads outside the bytes given.
NewPayload readNewPayload(std::span<const std::uint8_t> payload);

}  // namespace tarnic::demokit
