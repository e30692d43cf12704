#pragma once

#include "demokit/generator.h"

namespace tarnic::bench {

/// A demo shaped like a busy match: many moving entities and player states with
/// most fields present, so snapshots make up nearly all of it.
inline demokit::DemoOptions busyMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 2026;
    options.records = records;
    options.entities = 200;
    options.players = 16;
    options.fieldDensity = 0.8;
    return options;
}

}  // namespace tarnic::bench
