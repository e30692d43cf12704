#pragma once

#include <cstdint>

namespace tarnic {

/// Renumbers an event value (event number in bits 0..7, bits 8 and 9 kept).
std::int32_t remapEvent(std::int32_t oldValue);

/// Renumbers an entity type; types of 12 and more carry an event number.
std::int32_t remapEntityType(std::int32_t oldType);

}  // namespace tarnic
