#pragma once

// The family of benchmark demos. Each shape leans on a different part of the
// conversion: how many player-state fields are present, how many entities change per
// snapshot, explicit masks against presets and which presets, how many packed values
// are wide, how much of the stream is server commands and game states. Speed is judged
// by the slowest of them, so that a gain counts only when it is general.

#include <array>
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

/// A realistic match: about 60 entity changes and 20 players a snapshot, most
/// player-state fields present, a few explicit masks among presets of all sizes.
inline demokit::DemoOptions realisticMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 7310;
    options.records = records;
    options.entities = 82;
    options.players = 20;
    options.fieldDensity = 0.5;
    options.playerFieldDensity = 0.85;
    options.explicitMaskShare = 0.05;
    options.presets = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 16, 17, 19, 21, 22, 24, 25, 27, 28};
    return options;
}

/// Many entities, player states almost empty: the entity lists alone.
inline demokit::DemoOptions sparsePlayerMatch(int records) {
    demokit::DemoOptions options = busyMatch(records);
    options.seed = 1187;
    options.playerFieldDensity = 0.1;
    options.entities = 300;
    return options;
}

/// Every change under a large preset, nearly every packed value wide.
inline demokit::DemoOptions wideValueMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 5521;
    options.records = records;
    options.entities = 100;
    options.players = 12;
    options.fieldDensity = 0.6;
    options.explicitMaskShare = 0;
    options.wideShare = 0.9;
    options.presets = {11, 13, 16, 20};
    return options;
}

/// Hundreds of small changes of one or two fields, packed values narrow: the cost of
/// each entry rather than of its fields.
inline demokit::DemoOptions smallChangeMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 3093;
    options.records = records;
    options.entities = 400;
    options.players = 8;
    options.fieldDensity = 0.4;
    options.explicitMaskShare = 0;
    options.wideShare = 0;
    options.presets = {7, 14, 15, 18, 1, 8, 9};
    return options;
}

/// Every change under an explicit mask.
inline demokit::DemoOptions explicitMaskMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 6644;
    options.records = records;
    options.entities = 64;
    options.players = 10;
    options.fieldDensity = 0.7;
    options.explicitMaskShare = 1;
    return options;
}

/// Few entities and a full player state: the player state at its largest share.
inline demokit::DemoOptions playerStateMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 8802;
    options.records = records;
    options.entities = 6;
    options.players = 2;
    options.fieldDensity = 0.95;
    return options;
}

/// Server commands in nine messages out of ten, small snapshots.
inline demokit::DemoOptions commandMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 9127;
    options.records = records;
    options.entities = 16;
    options.players = 16;
    options.fieldDensity = 0.5;
    options.commandShare = 0.9;
    return options;
}

/// A game state of some 300 baselines every 16 records between busy snapshots.
inline demokit::DemoOptions gameStateMatch(int records) {
    demokit::DemoOptions options;
    options.seed = 2718;
    options.records = records;
    options.entities = 300;
    options.players = 32;
    options.fieldDensity = 0.6;
    options.gameStateEvery = 16;
    return options;
}

struct MatchShape {
    std::string_view name;
    demokit::DemoOptions (*options)(int records);
};

/// Every shape of the family, by the name the benchmark and the generator know it by.
inline constexpr std::array<MatchShape, 10> MATCH_SHAPES = {{
    {"busy", busyMatch},
    {"crowded", crowdedMatch},
    {"realistic", realisticMatch},
    {"sparse-player", sparsePlayerMatch},
    {"wide-values", wideValueMatch},
    {"small-changes", smallChangeMatch},
    {"explicit-masks", explicitMaskMatch},
    {"player-state", playerStateMatch},
    {"commands", commandMatch},
    {"game-states", gameStateMatch},
}};

/// The match named on a command line; a name no shape has gives the busy match.
inline demokit::DemoOptions namedMatch(std::string_view name, int records) {
    for (const MatchShape& shape : MATCH_SHAPES) {
        if (shape.name == name) return shape.options(records);
    }
    return busyMatch(records);
}

}  // namespace tarnic::bench
