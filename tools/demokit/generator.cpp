#include "demokit/generator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <random>
#include <string>
#include <string_view>

#include "demokit/field_tables.h"
#include "demokit/old_encoder.h"

namespace tarnic::demokit {

namespace {

constexpr int MAX_ENTITIES = 1000;
constexpr int MAX_PLAYERS = 64;
/// A "scores" list of this many entries stays well inside a command's 1023 characters.
constexpr int MAX_SCORE_ENTRIES = 16;
constexpr std::uint16_t PLAYER_INFO_INDEX = 544;

constexpr std::array<std::string_view, 8> NAMES = {"Ash", "Brick", "Cinder", "Dune", "Ember", "Flint", "Gale", "Haze"};
constexpr std::array<std::string_view, 6> MODELS = {"scout", "brute", "drifter", "nomad", "pilot", "warden"};
constexpr std::array<std::string_view, 3> SKINS = {"default", "red", "blue"};
constexpr std::array<std::string_view, 4> MESSAGES = {"Begin!", "Final ripple!", "Red flock gains.", "5 glims left."};
constexpr std::array<std::string_view, 4> CHATS = {"hm", "nice move", "tea's hot", "en route!"};
/// Preset selectors whose fields are the position and its neighbours: what a move sends.
constexpr std::array<std::uint8_t, 5> MOVE_SELECTORS = {12, 5, 6, 1, 18};
/// Preset selectors of entities that move and turn at once: four to six packed values.
constexpr std::array<std::uint8_t, 6> BUSY_SELECTORS = {5, 6, 16, 21, 24, 28};

/// Draws from a seeded mt19937 with arithmetic of its own: the standard distributions
/// differ between standard libraries, and a seed must give the same demo everywhere.
/// For the same reason no expression below draws twice: the order in which operands
/// are evaluated differs between compilers.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t bits32() { return std::uint32_t(engine_()); }
    std::uint32_t bits(int width) { return width >= 32 ? bits32() : bits32() & ((1u << width) - 1); }
    std::uint32_t below(std::uint32_t n) { return std::uint32_t((std::uint64_t{bits32()} * n) >> 32); }
    int between(int low, int high) { return low + int(below(std::uint32_t(high - low + 1))); }
    bool chance(double p) { return bits32() < p * 4294967296.0; }
    template <typename Item, std::size_t N>
    const Item& pick(const std::array<Item, N>& items) {
        return items[below(std::uint32_t(N))];
    }

private:
    std::mt19937 engine_;
};

/// One entity slot and where its entity is.
struct Mover {
    std::uint16_t number = 0;
    bool active = false;
    std::array<std::int32_t, 3> position{};
    std::array<std::int32_t, 3> velocity{};
};

std::string playerName(int player) {
    std::string name(NAMES[std::size_t(player) % NAMES.size()]);
    if (player >= int(NAMES.size())) name += std::to_string(player / int(NAMES.size()));
    return name;
}

}  // namespace

struct DemoGenerator::State {
    explicit State(const DemoOptions& chosen) : options(chosen), dice(chosen.seed), sequence(chosen.firstSequence) {
        options.records = std::max(options.records, 0);
        options.entities = std::clamp(options.entities, 0, MAX_ENTITIES);
        options.players = std::clamp(options.players, 0, std::min(MAX_PLAYERS, options.entities));
        options.fieldDensity = std::clamp(options.fieldDensity, 0.0, 1.0);
        placeMovers();
    }

    Record makeRecord() {
        Record record;
        // -1 would end the demo; a message is lost now and then.
        if (sequence == -1) sequence = 0;
        record.sequence = sequence;
        sequence = std::int32_t(std::uint32_t(sequence) + (dice.chance(0.05) ? 2u : 1u));
        std::vector<Operation>& operations = record.message.operations;
        const bool first = made++ == 0;
        const bool again = options.gameStateEvery > 0 && !first && (made - 1) % options.gameStateEvery == 0;
        if ((first && options.gameState) || again) {
            operations.emplace_back(makeGameState());
            return record;
        }
        if (options.serverCommands && dice.chance(options.commandShare)) {
            for (int n = dice.between(1, 2); n > 0; --n) operations.emplace_back(makeCommand());
            if (dice.chance(0.2)) return record;  // a message without a snapshot
        }
        operations.emplace_back(makeSnapshot());
        return record;
    }

    // Game state

    GameState makeGameState() {
        GameState gameState;
        gameState.leading = commandSequence;
        auto add = [&](std::uint16_t index, std::string text) {
            gameState.entries.emplace_back(ConfigString{index, std::move(text)});
        };
        std::string serverInfo = "\\wobbletitle\\Tarnic test plaza\\yardkey\\plaza" + std::to_string(dice.between(1, 20));
        serverInfo += "\\plimbstyle\\";
        serverInfo += std::to_string(dice.below(4)) + "\\tumblecap\\20\\clockspan\\15";
        add(0, serverInfo);
        add(1, "\\zennerstamp\\" + std::to_string(dice.bits(24)) + "\\glimmer\\0");
        add(2, "quill runner 4.07");
        add(5, std::to_string(dice.bits(16)));
        for (std::uint16_t index = 12; index <= 15; ++index) add(index, "slot " + std::to_string(index));
        add(20, "dropped " + std::to_string(dice.bits(8)));
        add(21, "");
        add(22, std::to_string(dice.below(100)));
        for (std::uint16_t k = 1; k <= 6; ++k) add(std::uint16_t(32 + k), "forms/oddments/urn" + std::to_string(k));
        for (std::uint16_t k = 1; k <= 6; ++k) add(std::uint16_t(288 + k), "tones/ambit/wub" + std::to_string(k));
        if (options.playerInfo) {
            for (int player = 0; player < options.players; ++player) {
                add(std::uint16_t(PLAYER_INFO_INDEX + player), playerInfo(player));
            }
        }
        // Entity number 0 never has a baseline.
        for (const Mover& mover : movers) {
            if (mover.number != 0) gameState.entries.emplace_back(Baseline{mover.number, appearance(mover)});
        }
        return gameState;
    }

    std::string playerInfo(int player) {
        std::string model(dice.pick(MODELS));
        model += "/";
        model += std::string(dice.pick(SKINS));
        std::string info = "\\u\\" + playerName(player) + "\\j\\" + std::to_string(dice.below(3));
        info += "\\model\\";
        info += model;
        if (dice.chance(0.5)) info += "\\hmodel\\" + (dice.chance(0.5) ? model : std::string(dice.pick(MODELS)));
        info += "\\q7\\";
        info += std::to_string(dice.below(8));
        info += "\\zb\\321\\v\\";
        info += std::to_string(dice.below(30));
        info += "\\y\\";
        info += std::to_string(dice.below(30));
        return info;
    }

    // Server commands

    ServerCommand makeCommand() {
        ServerCommand command;
        command.leading = ++commandSequence;
        const std::uint32_t kind = dice.below(10);
        if (kind < 4) {
            command.text = "plink \"" + std::string(dice.pick(MESSAGES)) + "\n\"";
        } else if (kind < 6) {
            command.text = scores();
        } else if (kind < 9) {
            command.text = configStringCommand();
        } else {
            command.text = "tolk \"" + playerName(int(dice.below(8)));
            command.text += ": ";
            command.text += std::string(dice.pick(CHATS)) + "\"";
        }
        return command;
    }

    std::string scores() {
        const int count = std::min(options.players, MAX_SCORE_ENTRIES);
        std::string text = "scores " + std::to_string(count);
        text += " ";
        text += std::to_string(dice.below(50));
        text += " ";
        text += std::to_string(dice.below(50));
        for (int player = 0; player < count; ++player) {
            const int values[6] = {player, dice.between(-3, 60), int(dice.below(400)), int(dice.below(900)),
                                   int(dice.below(4)), 0};
            for (const int value : values) {
                text += ' ';
                text += std::to_string(value);
            }
        }
        return text;
    }

    std::string configStringCommand() {
        if (options.playerInfo && options.players > 0 && dice.chance(0.5)) {
            const int player = int(dice.below(std::uint32_t(options.players)));
            return "cs " + std::to_string(PLAYER_INFO_INDEX + player) + " \"" + playerInfo(player) + "\"";
        }
        constexpr std::array<int, 8> INDICES = {12, 13, 14, 15, 20, 22, 5, 40};
        const int index = dice.pick(INDICES);
        return "cs " + std::to_string(index) + " \"" + std::to_string(dice.bits(16)) + "\"";
    }

    // Snapshots

    Snapshot makeSnapshot() {
        Snapshot snapshot;
        snapshot.messageHead = serverTime;
        serverTime += dice.chance(0.9) ? 50 : 100;
        snapshot.header2 = dice.below(4);
        snapshot.header3 = std::uint8_t(dice.below(8));
        snapshot.header4 = std::uint8_t(dice.bits(8));
        snapshot.block.resize(dice.below(33));
        for (std::uint8_t& byte : snapshot.block) byte = std::uint8_t(dice.bits(8));
        snapshot.player = playerState();
        moveEntities(snapshot.entities);
        return snapshot;
    }

    FieldValue fieldValue(const FieldRow& row) {
        switch (row.form) {
            case FieldForm::Packed: {
                const bool wide = dice.chance(options.wideShare < 0 ? 0.3 : options.wideShare);
                return {dice.bits(wide ? 32 : 13), wide};
            }
            case FieldForm::Event: {
                const std::uint32_t event = dice.below(72);
                return {event | (row.oldWidth > 8 ? dice.bits(2) << 8 : 0), false};
            }
            case FieldForm::Plain:
            case FieldForm::EntityType:
            case FieldForm::NewOnly: break;
        }
        return {dice.bits(row.oldWidth), false};
    }

    PlayerState playerState() {
        PlayerState player;
        const double density = options.playerFieldDensity < 0 ? options.fieldDensity : options.playerFieldDensity;
        for (std::size_t i = 0; i < player.fields.size(); ++i) {
            OptionalField& field = player.fields[i];
            field.present = dice.chance(density);
            if (field.present) field.field = fieldValue(PLAYER_FIELDS[i]);
        }
        for (std::size_t a = 0; a < player.arrays.size(); ++a) {
            MaskedArray& array = player.arrays[a];
            array.present = dice.chance(a == 1 ? std::max(density, 0.2) : density);
            if (!array.present) continue;
            for (std::size_t j = 0; j < 16; ++j) {
                if (!dice.chance(density * 0.5 + 0.05)) continue;
                array.mask = std::uint16_t(array.mask | 1u << j);
                array.values[j] = dice.bits(MASKED_ARRAY_WIDTHS[a]);
            }
            if (a == 1) keepStats(array);
        }
        return player;
    }

    /// Array 2 holds the player's stats: small numbers, often sent again unchanged.
    void keepStats(MaskedArray& array) {
        for (std::size_t j = 0; j < 16; ++j) {
            if (!(array.mask >> j & 1)) continue;
            if (dice.chance(0.7)) stats[j] = dice.chance(0.9) ? dice.below(1000) : dice.bits(16);
            array.values[j] = stats[j];
        }
    }

    // Entities

    void placeMovers() {
        // Players take the first numbers, the rest are spread over the whole range.
        std::vector<bool> taken(ENTITY_LIST_END, false);
        for (int slot = 0; slot < options.entities; ++slot) {
            std::uint16_t number = std::uint16_t(slot);
            if (slot >= options.players) {
                do number = std::uint16_t(dice.below(ENTITY_LIST_END)); while (taken[number]);
            }
            taken[number] = true;
            Mover mover;
            mover.number = number;
            mover.active = dice.chance(options.activeShare);
            for (std::int32_t& axis : mover.position) axis = dice.between(-4000, 4000);
            for (std::int32_t& axis : mover.velocity) axis = dice.between(-40, 40);
            movers.push_back(mover);
        }
        std::sort(movers.begin(), movers.end(), [](const Mover& a, const Mover& b) { return a.number < b.number; });
    }

    void fillFields(EntityDelta& delta, std::uint64_t mask) {
        for (std::size_t n = 0; n < std::size_t(OLD_ENTITY_FIELDS); ++n) {
            if (mask >> n & 1) delta.fields[n] = fieldValue(ENTITY_FIELDS[n]);
        }
        if (mask & 1) delta.fields[0].value = dice.below(12 + 65);  // entity types, event ones included
    }

    /// Packed positions: a small integral one in 13 bits, any other as the bits of a float.
    void placeFields(EntityDelta& delta, const Mover& mover) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const std::int32_t at = mover.position[axis];
            const bool wide = dice.chance(options.wideShare < 0 ? 0.25 : options.wideShare) || at < -4096 || at >= 4096;
            delta.fields[5 + axis] = wide ? FieldValue{std::bit_cast<std::uint32_t>(float(at) + 0.5f), true}
                                          : FieldValue{std::uint32_t(at + 4096), false};
        }
    }

    /// A whole entity: its type, position and a few other fields, under an explicit mask.
    EntityDelta appearance(const Mover& mover) {
        EntityDelta delta;
        delta.changed = true;
        delta.selector = EXPLICIT_MASK_SELECTOR;
        for (int n = 0; n < OLD_ENTITY_FIELDS; ++n) {
            if (dice.chance(options.fieldDensity * 0.5)) delta.explicitMask |= std::uint64_t{1} << n;
        }
        delta.explicitMask |= 0xE1;  // type and position
        fillFields(delta, delta.explicitMask);
        placeFields(delta, mover);
        return delta;
    }

    void moveEntities(std::vector<EntityEntry>& entries) {
        for (Mover& mover : movers) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                mover.position[axis] += mover.velocity[axis];
                if (mover.position[axis] < -6000 || mover.position[axis] > 6000) mover.velocity[axis] *= -1;
            }
            if (!mover.active) {
                if (dice.chance(0.05)) {
                    mover.active = true;
                    entries.push_back({mover.number, appearance(mover)});
                }
                continue;
            }
            EntityDelta delta;
            if (options.explicitMaskShare >= 0) {
                busyDelta(delta, mover);
                entries.push_back({mover.number, delta});
                continue;
            }
            const std::uint32_t roll = dice.below(100);
            if (roll < 2) {
                delta.removed = true;
                mover.active = false;
            } else if (roll < 8) {
                // sent without a change
            } else if (roll < 60) {
                delta.changed = true;
                delta.selector = options.presets.empty() ? dice.pick(MOVE_SELECTORS) : pickPreset();
                fillFields(delta, announcedFields(delta));
                placeFields(delta, mover);
            } else if (roll < 72) {
                delta.changed = true;
                delta.selector = std::uint8_t(dice.below(32));
                if (delta.selector == EXPLICIT_MASK_SELECTOR) {
                    delta.explicitMask = dice.bits32();
                    delta.explicitMask |= std::uint64_t{dice.bits(OLD_ENTITY_FIELDS - 32)} << 32;
                }
                fillFields(delta, announcedFields(delta));
            } else {
                continue;  // nothing to send this time
            }
            entries.push_back({mover.number, delta});
        }
    }

    /// A change of an entity in a busy snapshot: removal now and then, else an explicit
    /// mask or a preset that moves it.
    void busyDelta(EntityDelta& delta, Mover& mover) {
        if (dice.chance(0.02)) {
            delta.removed = true;
            mover.active = false;
            return;
        }
        delta.changed = true;
        if (dice.chance(options.explicitMaskShare)) {
            delta.selector = EXPLICIT_MASK_SELECTOR;
            delta.explicitMask = dice.bits32();
            delta.explicitMask |= std::uint64_t{dice.bits(OLD_ENTITY_FIELDS - 32)} << 32;
        } else {
            delta.selector = options.presets.empty() ? dice.pick(BUSY_SELECTORS) : pickPreset();
        }
        fillFields(delta, announcedFields(delta));
        placeFields(delta, mover);
    }

    /// One of the chosen preset selectors.
    std::uint8_t pickPreset() {
        return std::uint8_t(options.presets[dice.below(std::uint32_t(options.presets.size()))] % EXPLICIT_MASK_SELECTOR);
    }

    DemoOptions options;
    Dice dice;
    std::int32_t sequence;
    int made = 0;
    std::uint32_t serverTime = 20000;
    std::uint32_t commandSequence = 1;
    std::vector<Mover> movers;
    std::array<std::uint32_t, 16> stats{};
};

DemoGenerator::DemoGenerator(const DemoOptions& options) : state_(std::make_unique<State>(options)) {}

DemoGenerator::~DemoGenerator() = default;

std::optional<Record> DemoGenerator::next() {
    if (state_->made >= state_->options.records) return std::nullopt;
    return state_->makeRecord();
}

Demo generateDemo(const DemoOptions& options) {
    Demo demo;
    demo.endMarker = options.endMarker;
    DemoGenerator generator(options);
    while (std::optional<Record> record = generator.next()) demo.records.push_back(std::move(*record));
    return demo;
}

Bytes generateDemoBytes(const DemoOptions& options) {
    Bytes bytes;
    DemoGenerator generator(options);
    while (const std::optional<Record> record = generator.next()) appendMessageRecord(bytes, *record);
    if (options.endMarker) appendEndMarker(bytes);
    return bytes;
}

}  // namespace tarnic::demokit
