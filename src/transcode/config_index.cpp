#include "transcode/config_index.h"

namespace tarnic {

std::optional<std::int32_t> remapConfigIndex(std::int32_t oldIndex) { return oldIndex; }

}  // namespace tarnic
