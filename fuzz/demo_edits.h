#pragma once

// Turns fuzz bytes into a well-formed old demo: the options of a small generated
// demo, then edits of its models that stay inside what a well-formed demo may hold
// and away from anything that draws a diagnostic.

#include <cstdint>
#include <span>

#include "demokit/old_model.h"

namespace tarnic::fuzz {

/// The demo the bytes describe. Short inputs give small demos, every input a valid one.
demokit::Demo wellFormedDemo(std::span<const std::uint8_t> bytes);

}  // namespace tarnic::fuzz
