#include "transcode/remap.h"

namespace tarnic {

std::int32_t remapEvent(std::int32_t oldValue) { return oldValue; }

std::int32_t remapEntityType(std::int32_t oldType) { return oldType; }

}  // namespace tarnic
