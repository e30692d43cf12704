#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "examine/new_reader.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

using namespace demokit;
using examine::NewOperation;
using examine::NewPayload;
using examine::readNewPayload;
using test::bitText;
using test::hexText;
using test::NewDemo;
using test::splitNewDemo;

/// What masked array 2 should look like in the new protocol, worked out from the
/// old values the way the new numbering defines it.
class Array2Expectation {
public:
    struct Change {
        std::uint16_t mask = 0;
        std::array<std::uint16_t, 16> values{};
    };

    Change next(const MaskedArray& old) {
        if (old.present) {
            for (std::size_t j = 0; j < 16; ++j) {
                if (old.mask >> j & 1) received_[j] = std::uint16_t(old.values[j]);
            }
        }
        // Old entry that feeds each new entry; -1: always 0.
        static constexpr std::array<int, 16> SOURCE = {0, 1, 2, 3, 4, -1, 7, -1, 8, 9, -1, -1, -1, 11, -1, -1};
        Change change;
        for (std::size_t j = 0; j < 16; ++j) {
            const std::uint16_t value = SOURCE[j] < 0 ? 0 : received_[std::size_t(SOURCE[j])];
            if (value == sent_[j]) continue;
            sent_[j] = value;
            change.mask = std::uint16_t(change.mask | 1u << j);
            change.values[j] = value;
        }
        return change;
    }

private:
    std::array<std::uint16_t, 16> received_{};
    std::array<std::uint16_t, 16> sent_{};
};

std::string changeText(std::uint16_t mask, const std::array<std::uint16_t, 16>& values) {
    std::ostringstream text;
    text << "{";
    for (std::size_t j = 0; j < 16; ++j) {
        if (mask >> j & 1) text << " " << j << ":" << values[j];
    }
    text << " }";
    return text.str();
}

std::vector<std::uint16_t> entityNumbers(const Snapshot& snapshot) {
    std::vector<std::uint16_t> numbers;
    for (const EntityEntry& entry : snapshot.entities) numbers.push_back(entry.number);
    return numbers;
}

/// Array 2 of a snapshot: the old entries given, the rest absent.
Snapshot snapshotWith(std::uint32_t messageHead, std::initializer_list<std::pair<int, std::uint32_t>> array2) {
    Snapshot snapshot;
    snapshot.messageHead = messageHead;
    MaskedArray& array = snapshot.player.arrays[1];
    for (const auto& [entry, value] : array2) {
        array.present = true;
        array.mask = std::uint16_t(array.mask | 1u << entry);
        array.values[std::size_t(entry)] = value;
    }
    return snapshot;
}

struct Converted {
    NewDemo demo;
    std::string console;
};

Converted convert(const Demo& demo) {
    const Bytes input = encodeDemo(demo);
    const ConvertedDemo result = convertDemo(input);
    return {splitNewDemo(result.demo), result.console};
}

/// Checks a converted demo against the old demo it came from: framing, sequences,
/// heads, well-formed payloads with the same operations, array 2 and entity lists.
void expectFaithful(const Demo& old, const Converted& converted, const std::string& label) {
    SCOPED_TRACE(label);
    const NewDemo& demo = converted.demo;
    EXPECT_TRUE(demo.wellFramed);
    EXPECT_EQ(demo.endMarker, old.endMarker);
    EXPECT_EQ(converted.console, "");
    ASSERT_EQ(demo.records.size(), old.records.size());
    Array2Expectation array2;
    std::uint32_t head = 0;
    for (std::size_t r = 0; r < old.records.size(); ++r) {
        SCOPED_TRACE("record " + std::to_string(r));
        const auto& operations = old.records[r].message.operations;
        const NewPayload payload = readNewPayload(demo.records[r].payload);
        EXPECT_EQ(demo.records[r].sequence, old.records[r].sequence);
        ASSERT_TRUE(payload.wellFormed) << test::problemText(payload) << "\n" << hexText(demo.records[r].payload);
        ASSERT_EQ(payload.operations.size(), operations.size());
        for (std::size_t k = 0; k < operations.size(); ++k) {
            const NewOperation& read = payload.operations[k];
            if (const auto* snapshot = std::get_if<Snapshot>(&operations[k])) {
                head = snapshot->messageHead;
                const auto expected = array2.next(snapshot->player.arrays[1]);
                EXPECT_EQ(changeText(read.array2Mask, read.array2Values), changeText(expected.mask, expected.values))
                    << "snapshot " << k;
                EXPECT_EQ(read.entityNumbers, entityNumbers(*snapshot));
            } else if (const auto* command = std::get_if<ServerCommand>(&operations[k])) {
                EXPECT_EQ(read.leading, command->leading);
                const bool rewritten = command->text.starts_with("cs") || command->text.starts_with("scores");
                if (!rewritten) {
                    EXPECT_EQ(read.text, command->text);
                }
            } else if (const auto* gameState = std::get_if<GameState>(&operations[k])) {
                EXPECT_EQ(read.leading, gameState->leading);
            }
        }
        EXPECT_EQ(demo.records[r].messageHead, head);
    }
}

TEST(EndToEnd, HandBuiltDemoConvertsOperationByOperation) {
    EntityDelta moved;
    moved.changed = true;
    moved.selector = 12;  // fields 5, 6, 7
    moved.fields[5] = {100, false};
    moved.fields[7] = {0x44800000, true};

    GameState gameState;
    gameState.leading = 3;
    gameState.entries = {ConfigString{0, "\\wobbletitle\\plaza"}, ConfigString{12, "twelve"},
                         ConfigString{20, "dropped"},         ConfigString{544, "\\name\\Ash\\model\\scout/red"},
                         Baseline{5, moved}};

    Snapshot entities = snapshotWith(4000, {});
    entities.entities = {{0, moved}, {5, EntityDelta{}}, {1022, moved}};
    entities.entities[1].delta.removed = true;

    Demo demo;
    demo.records = {
        {10, {{gameState, ServerCommand{4, "cs 13 \"x\""}}}},
        {11, {{ServerCommand{5, "scores 1 7 9 0 20 50 100 0 0"}, ServerCommand{6, "plink \"hello\n\""}}}},
        {12, {{snapshotWith(1000, {{7, 9}})}}},
        {13, {{ServerCommand{7, "cs 20 \"x\""}}}},
        {14, {{snapshotWith(2000, {{0, 5}, {7, 9}}), snapshotWith(3000, {{10, 1}, {12, 2}})}}},
        {15, {{entities}}},
        {17, {{snapshotWith(5000, {{11, 5}, {0, 5}})}}},
    };
    const Converted converted = convert(demo);
    expectFaithful(demo, converted, "hand-built demo");
    ASSERT_EQ(converted.demo.records.size(), 7u);

    const std::vector<std::uint32_t> heads = {0, 0, 1000, 1000, 3000, 4000, 5000};
    // Array 2 in the new numbering: old entry 7 is new entry 6, old 11 is new 13.
    const std::vector<std::vector<std::string>> changes = {
        {}, {}, {"{ 6:9 }"}, {}, {"{ 0:5 }", "{ }"}, {"{ }"}, {"{ 13:5 }"}};
    for (std::size_t r = 0; r < heads.size(); ++r) {
        const NewPayload payload = readNewPayload(converted.demo.records[r].payload);
        EXPECT_EQ(converted.demo.records[r].messageHead, heads[r]) << "record " << r;
        std::vector<std::string> found;
        for (const NewOperation& operation : payload.operations) {
            if (operation.code == 7) found.push_back(changeText(operation.array2Mask, operation.array2Values));
        }
        EXPECT_EQ(found, changes[r]) << "record " << r;
    }

    const NewPayload first = readNewPayload(converted.demo.records[0].payload);
    ASSERT_EQ(first.operations.size(), 2u);
    const auto& configStrings = first.operations[0].configStrings;
    ASSERT_EQ(configStrings.size(), 3u);
    EXPECT_EQ(configStrings[0].index, 0);
    EXPECT_EQ(configStrings[1].index, 20);
    EXPECT_EQ(configStrings[1].text, "twelve");
    EXPECT_EQ(configStrings[2].index, 544);
    EXPECT_EQ(configStrings[2].text, "\\name\\Ash\\model\\scout/red\\hmodel\\scout/red");
    EXPECT_EQ(first.operations[0].baselines, std::vector<std::uint16_t>{5});
    EXPECT_EQ(first.operations[1].text, "cs 21 \"x\"");

    const NewPayload second = readNewPayload(converted.demo.records[1].payload);
    ASSERT_EQ(second.operations.size(), 2u);
    EXPECT_EQ(second.operations[0].text, "scores 1 7 9 0 20 50 100 0 0 0 0 0 0 0 0 0 0");
    const NewPayload fourth = readNewPayload(converted.demo.records[3].payload);
    ASSERT_EQ(fourth.operations.size(), 1u);
    EXPECT_EQ(fourth.operations[0].text, "");
}

TEST(EndToEnd, RandomDemosConvertToWellFormedNewDemos) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        DemoOptions options;
        options.seed = seed;
        options.records = int(10 + seed * 7 % 90);
        options.entities = seed % 5 == 0 ? 0 : int(seed * 37 % 300);
        options.players = int(seed % 40);
        options.fieldDensity = (seed % 11) / 10.0;
        options.gameState = seed % 7 != 0;
        options.serverCommands = seed % 3 != 0;
        options.playerInfo = seed % 4 != 0;
        options.endMarker = seed % 9 != 0;
        options.firstSequence = std::int32_t(seed * 1000) - 20000;
        const Demo demo = generateDemo(options);
        expectFaithful(demo, convert(demo), "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace tarnic
