#include "demo_edits.h"

#include <bit>
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "demokit/field_tables.h"
#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "transcode/config_index.h"
#include "transcode/player_info.h"

namespace tarnic::fuzz {

namespace {

using namespace demokit;

/// Edits after the generated demo; with the small demos below each run stays fast.
constexpr int MAX_EDITS = 64;
/// Texts stay well below the 1024 characters a written string may hold, also once
/// a "cs" index is rewritten or a player info gains its "hmodel".
constexpr std::size_t LONGEST_TEXT = 400;
/// The highest configuration-string index the new protocol takes without complaint.
constexpr std::uint32_t HIGHEST_CONFIG_INDEX = 1024;

/// Hands out the fuzz bytes as numbers; once they run out, every draw is 0.
class FuzzInput {
public:
    explicit FuzzInput(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

    bool empty() const { return rest_.empty(); }

    /// A value of 1 to 32 bits, from as few bytes as hold it.
    std::uint32_t bits(int width) {
        std::uint32_t value = 0;
        for (int shift = 0; shift < width && !rest_.empty(); shift += 8) {
            value |= std::uint32_t{rest_.front()} << shift;
            rest_ = rest_.subspan(1);
        }
        return width >= 32 ? value : value & ((1u << width) - 1);
    }

    std::uint32_t below(std::uint32_t n) { return n <= 1 ? 0 : bits(int(std::bit_width(n - 1))) % n; }
    bool flag() { return bits(1) != 0; }

    /// Up to `longest` characters, without NULs and without the characters `banned`.
    std::string text(std::size_t longest, std::string_view banned = {}) {
        const std::uint32_t length = below(std::uint32_t(longest) + 1);
        std::string text;
        for (std::uint32_t i = 0; i < length && !rest_.empty(); ++i) {
            const char c = char(bits(8));
            if (c != '\0' && banned.find(c) == std::string_view::npos) text += c;
        }
        return text;
    }

private:
    std::span<const std::uint8_t> rest_;
};

DemoOptions chooseOptions(FuzzInput& input) {
    DemoOptions options;
    options.seed = input.bits(32);
    options.records = 1 + int(input.below(12));
    options.entities = int(input.below(49));
    options.players = int(input.below(9));
    options.fieldDensity = input.below(11) / 10.0;
    // Zero bits keep the generator's defaults.
    const std::uint32_t omit = input.bits(4);
    options.gameState = !(omit & 1);
    options.serverCommands = !(omit & 2);
    options.playerInfo = !(omit & 4);
    options.endMarker = !(omit & 8);
    options.firstSequence = std::int32_t(input.bits(32));
    return options;
}

// Edits. Each draws what it needs from the input.

std::int32_t chooseSequence(FuzzInput& input) {
    const auto sequence = std::int32_t(input.bits(32));
    return sequence == -1 ? 0 : sequence;  // -1 would end the demo
}

FieldValue chooseField(FuzzInput& input, const FieldRow& row) {
    if (row.form == FieldForm::Packed) {
        const bool wide = input.flag();
        return {input.bits(wide ? 32 : 13), wide};
    }
    return {input.bits(row.oldWidth), false};
}

EntityDelta chooseDelta(FuzzInput& input) {
    EntityDelta delta;
    const std::uint32_t head = input.bits(8);
    delta.removed = head & 1;
    delta.changed = head & 2;
    if (delta.removed || !delta.changed) return delta;
    delta.selector = std::uint8_t(head >> 3);
    if (delta.selector == EXPLICIT_MASK_SELECTOR) {
        delta.explicitMask = input.bits(32);
        delta.explicitMask |= std::uint64_t{input.bits(OLD_ENTITY_FIELDS - 32)} << 32;
    }
    const std::uint64_t announced = announcedFields(delta);
    for (std::size_t n = 0; n < std::size_t(OLD_ENTITY_FIELDS); ++n) {
        if (announced >> n & 1) delta.fields[n] = chooseField(input, ENTITY_FIELDS[n]);
    }
    return delta;
}

ServerCommand chooseCommand(FuzzInput& input) {
    // Starts that the conversion rewrites, or not.
    static constexpr std::string_view STARTS[] = {"", "cs ", "scores ", "plink \""};
    ServerCommand command;
    command.leading = input.bits(32);
    command.text = STARTS[input.below(std::size(STARTS))];
    command.text += input.text(LONGEST_TEXT);
    return command;
}

ConfigString chooseConfigString(FuzzInput& input) {
    ConfigString entry;
    entry.index = std::uint16_t(input.below(HIGHEST_CONFIG_INDEX + 1));
    const std::optional<std::int32_t> newIndex = remapConfigIndex(entry.index);
    if (!newIndex || !isPlayerInfoIndex(*newIndex)) {
        entry.text = input.text(LONGEST_TEXT);
        return entry;
    }
    // A model name holding ';' or '"' cannot be copied to "hmodel" without a complaint.
    entry.text = input.text(LONGEST_TEXT / 2, ";\"");
    if (input.flag()) entry.text += "\\model\\" + input.text(LONGEST_TEXT / 4, ";\"");
    return entry;
}

void editGameState(GameState& gameState, FuzzInput& input) {
    auto& entries = gameState.entries;
    const std::size_t at = input.below(std::uint32_t(entries.size() + 1));
    switch (input.below(4)) {
        case 0: gameState.leading = input.bits(32); break;
        case 1: entries.insert(entries.begin() + std::ptrdiff_t(at), chooseConfigString(input)); break;
        case 2: {
            // Entity number 0 draws a complaint.
            const auto number = std::uint16_t(1 + input.below(ENTITY_LIST_END));
            entries.insert(entries.begin() + std::ptrdiff_t(at), Baseline{number, chooseDelta(input)});
            break;
        }
        default:
            if (at < entries.size()) entries.erase(entries.begin() + std::ptrdiff_t(at));
            break;
    }
}

void editPlayerState(PlayerState& player, FuzzInput& input) {
    if (input.flag()) {
        const std::size_t i = input.below(PLAYER_FIELD_COUNT);
        player.fields[i].present = input.flag();
        player.fields[i].field = chooseField(input, PLAYER_FIELDS[i]);
        return;
    }
    const std::size_t a = input.below(std::uint32_t(player.arrays.size()));
    MaskedArray& array = player.arrays[a];
    array.present = input.flag();
    array.mask = std::uint16_t(input.bits(16));
    for (std::size_t j = 0; j < 16; ++j) {
        if (array.mask >> j & 1) array.values[j] = input.bits(MASKED_ARRAY_WIDTHS[a]);
    }
}

void editEntities(std::vector<EntityEntry>& entries, FuzzInput& input) {
    const std::size_t at = input.below(std::uint32_t(entries.size() + 1));
    const std::uint32_t kind = input.below(3);
    if (kind == 0) {
        // Any number below the one that ends the list.
        const auto number = std::uint16_t(input.below(ENTITY_LIST_END));
        entries.insert(entries.begin() + std::ptrdiff_t(at), EntityEntry{number, chooseDelta(input)});
    } else if (at < entries.size()) {
        if (kind == 1) {
            entries.erase(entries.begin() + std::ptrdiff_t(at));
        } else {
            entries[at].delta = chooseDelta(input);
        }
    }
}

void editSnapshot(Snapshot& snapshot, FuzzInput& input) {
    switch (input.below(4)) {
        case 0:
            snapshot.messageHead = input.bits(32);
            snapshot.header2 = input.bits(32);
            snapshot.header3 = std::uint8_t(input.bits(8));
            snapshot.header4 = std::uint8_t(input.bits(8));
            break;
        case 1:
            snapshot.block.resize(input.below(256));
            for (std::uint8_t& byte : snapshot.block) byte = std::uint8_t(input.bits(8));
            break;
        case 2: editPlayerState(snapshot.player, input); break;
        default: editEntities(snapshot.entities, input); break;
    }
}

void editOperation(Operation& operation, FuzzInput& input) {
    if (auto* command = std::get_if<ServerCommand>(&operation)) {
        *command = chooseCommand(input);
    } else if (auto* gameState = std::get_if<GameState>(&operation)) {
        editGameState(*gameState, input);
    } else if (auto* snapshot = std::get_if<Snapshot>(&operation)) {
        editSnapshot(*snapshot, input);
    }
}

void editRecord(Record& record, FuzzInput& input) {
    auto& operations = record.message.operations;
    const std::size_t at = input.below(std::uint32_t(operations.size() + 1));
    const auto place = operations.begin() + std::ptrdiff_t(at);
    switch (input.below(6)) {
        case 0: record.sequence = chooseSequence(input); break;
        case 1: operations.insert(place, chooseCommand(input)); break;
        case 2: {
            Snapshot snapshot;
            snapshot.messageHead = input.bits(32);
            operations.insert(place, snapshot);
            break;
        }
        case 3: {
            GameState gameState;
            gameState.leading = input.bits(32);
            operations.insert(place, gameState);
            break;
        }
        case 4:
            if (at < operations.size()) operations.erase(place);
            break;
        default:
            if (at < operations.size()) editOperation(operations[at], input);
            break;
    }
}

void editDemo(Demo& demo, FuzzInput& input) {
    const std::size_t at = input.below(std::uint32_t(demo.records.size() + 1));
    if (at == demo.records.size()) {
        demo.records.emplace_back().sequence = chooseSequence(input);
    } else {
        editRecord(demo.records[at], input);
    }
}

}  // namespace

Demo wellFormedDemo(std::span<const std::uint8_t> bytes) {
    FuzzInput input(bytes);
    Demo demo = generateDemo(chooseOptions(input));
    for (int edits = 0; edits < MAX_EDITS && !input.empty(); ++edits) editDemo(demo, input);
    return demo;
}

}  // namespace tarnic::fuzz
