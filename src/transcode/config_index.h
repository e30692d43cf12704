#pragma once

#include <cstdint>
#include <optional>

namespace tarnic {

/// Renumbers a configuration-string index from the old protocol to the new one.
/// Gives nothing for the indices the new protocol drops.
std::optional<std::int32_t> remapConfigIndex(std::int32_t oldIndex);

}  // namespace tarnic
