#pragma once

#include <string_view>

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

/// A harder one: every entity in play sends a change in every snapshot (90 or so, never
/// fewer than 64), most under presets of four to six packed values, a fifth under explicit
/// masks; player states carry nearly every field.
inline demokit::DemoOptions crowdedMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 4051;
    options.records = records;
    options.entities = 128;
    options.players = 16;
    options.fieldDensity = 0.9;
    options.explicitMaskShare = 0.2;
    return options;
}

/// The match named on a command line: "busy" or "crowded".
inline demokit::DemoOptions namedMatch(std::string_view name, int records) {
    return name == "crowded" ? crowdedMatch(records) : busyMatch(records);
}

}  // namespace tarnic::bench
