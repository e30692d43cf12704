#include "transcode/player_info.h"

#include "info/info_string.h"

namespace tarnic {

void setHModelFromModel(std::string& info, Console& console) {
    // The lookup hands back its own copy, so the edit below cannot disturb the value.
    const std::string model = Info_ValueForKey(info, "model", console);
    Info_SetValueForKey(info, "hmodel", model, console);
}

}  // namespace tarnic
