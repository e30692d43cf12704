#pragma once

// The JSON that --verify and --info print with --json, one object per demo, built
// here so that every user of the library describes a demo with the same object.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tarnic/examine.h"

namespace tarnic::examine {

/// One demo as the JSON describes it: read whole, or why not.
struct ExaminedDemo {
    std::optional<std::string_view> file;  ///< the name as given; none gives null
    std::optional<Protocol> protocol;      ///< none for a name that is not a demo's
    const DemoReport* report = nullptr;    ///< set when the demo was read whole
    std::string_view error;                ///< why it was not; unused when `report` is set
};

/// The object for one demo, with --info's facts when `withFacts`; a line end follows it.
std::string examinedDemoJson(const ExaminedDemo& demo, bool withFacts);

/// The array of the objects for every demo, in order, as --json prints it; a line end
/// follows it.
std::string examinedDemosJson(std::span<const ExaminedDemo> demos, bool withFacts);

}  // namespace tarnic::examine
