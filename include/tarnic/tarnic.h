#pragma once

// The whole public interface of the tarnic library: converting old demos into new
// ones (convert.h), verifying and describing demos of either protocol (examine.h),
// both at once over a demo that arrives in pieces (conversion_feed.h), and the JSON
// that describes them (report_json.h).

#include "tarnic/byte_stream.h"
#include "tarnic/console.h"
#include "tarnic/conversion_feed.h"
#include "tarnic/convert.h"
#include "tarnic/demo_facts.h"
#include "tarnic/examine.h"
#include "tarnic/problem.h"
#include "tarnic/report_json.h"
