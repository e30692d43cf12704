#pragma once

// Seeded random old demos that are well-formed and look like recorded matches: a game
// state, then snapshots of moving entities with server commands now and then.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "demokit/old_model.h"

namespace tarnic::demokit {

struct DemoOptions {
    std::uint32_t seed = 1;
    int records = 200;          ///< records in all, the game state's included
    int entities = 24;          ///< entity slots in play; at most 1000
    double fieldDensity = 0.3;  ///< chance that an optional field or array entry is sent
    /// When 0 or more, every entity in play sends a change in every snapshot: under an
    /// explicit mask with this chance, else under a preset that moves it. When negative,
    /// entities mostly rest or move and rarely send an explicit mask.
    double explicitMaskShare = -1;
    /// Chance that a player-state field or array is sent; negative: `fieldDensity`.
    double playerFieldDensity = -1;
    double activeShare = 0.8;   ///< chance that an entity is in play at the start
    /// Chance that a packed value is sent wide (32 bits); negative: 0.3, and 0.25 for positions.
    double wideShare = -1;
    /// Preset selectors (0 to 30) that moving entities use, and with `explicitMaskShare` 0
    /// or more every change not under an explicit mask; empty: the usual moves.
    std::vector<std::uint8_t> presets;
    bool gameState = true;      ///< the first record holds a game state
    int gameStateEvery = 0;     ///< when above 0, every so many records hold a game state again
    bool serverCommands = true; ///< "cs", "scores" and other commands now and then
    double commandShare = 0.1;  ///< chance that a message carries server commands
    bool playerInfo = true;     ///< player info strings with a model in the game state
    int players = 8;            ///< at most 64; the first entity slots are theirs
    std::int32_t firstSequence = 1;
    bool endMarker = true;
};

/// Makes the records of one demo one at a time, so that large demos need no room
/// for all their records. The same options always give the same records.
class DemoGenerator {
public:
    explicit DemoGenerator(const DemoOptions& options);
    ~DemoGenerator();
    DemoGenerator(const DemoGenerator&) = delete;
    DemoGenerator& operator=(const DemoGenerator&) = delete;

    /// The next record, or nothing once all records are made.
    std::optional<Record> next();

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// All records of a demo, as models.
Demo generateDemo(const DemoOptions& options);

/// The bytes of the same demo, made record by record: large demos need no room for
/// their models.
Bytes generateDemoBytes(const DemoOptions& options);

}  // namespace tarnic::demokit
