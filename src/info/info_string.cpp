#include "info/info_string.h"

namespace tarnic {

std::string Info_ValueForKey(std::string_view, std::string_view, Console&) { return {}; }

void Info_RemoveKey(std::string&, std::string_view, Console&) {}

void Info_SetValueForKey(std::string&, std::string_view, std::string_view, Console&) {}

}  // namespace tarnic
