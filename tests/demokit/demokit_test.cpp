#include <gtest/gtest.h>

#include <functional>
#include <variant>
#include <string>
#include <vector>

#include "demokit/field_tables.h"
#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "support/demo_file.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using namespace demokit;
using test::bitLengthOf;
using test::bitText;
using test::bytesOf;
using test::hexText;

/// Entity field 44 alone, under the preset that announces only it.
EntityDelta eventDelta(std::uint32_t event) {
    EntityDelta delta;
    delta.changed = true;
    delta.selector = 7;
    delta.fields[44].value = event;
    return delta;
}

TEST(DemoKit, EntityFieldTableHasTheOldLayoutsFieldCounts) {
    int packed = 0;
    std::array<int, 33> plainOfWidth{};
    for (int n = 0; n < OLD_ENTITY_FIELDS; ++n) {
        const FieldRow& row = ENTITY_FIELDS[std::size_t(n)];
        if (row.form == FieldForm::Packed) {
            ++packed;
        } else {
            ++plainOfWidth[row.oldWidth];
        }
    }
    EXPECT_EQ(packed, 24);
    EXPECT_EQ(plainOfWidth[32], 7);
    EXPECT_EQ(plainOfWidth[24], 1);
    EXPECT_EQ(plainOfWidth[16], 3);
    EXPECT_EQ(plainOfWidth[10], 4);
    EXPECT_EQ(plainOfWidth[8], 11);
    EXPECT_EQ(ENTITY_FIELDS[50].oldWidth, 0);
    EXPECT_EQ(ENTITY_FIELDS[1].newWidth, 19);
}

TEST(DemoKit, EncodedElementsHaveTheirOldBitLengths) {
    struct Row {
        const char* name;
        std::function<void(PacketWriter&)> encode;
        std::size_t bits;
    };
    EntityDelta removed;
    removed.removed = true;
    EntityDelta unchanged;
    EntityDelta emptyExplicit;
    emptyExplicit.changed = true;
    emptyExplicit.selector = EXPLICIT_MASK_SELECTOR;
    EntityDelta narrowPacked;
    narrowPacked.changed = true;
    narrowPacked.selector = 18;  // field 5 only
    EntityDelta widePacked = narrowPacked;
    widePacked.fields[5].wide = true;
    Snapshot fullBlock;
    fullBlock.block.assign(255, 0xA5);
    Snapshot withField30;
    withField30.player.fields[29].present = true;
    GameState emptyGameState;

    const std::vector<Row> rows = {
        {"removed delta", [&](PacketWriter& w) { encodeEntityDelta(w, removed); }, 1},
        {"unchanged delta", [&](PacketWriter& w) { encodeEntityDelta(w, unchanged); }, 2},
        {"empty explicit mask", [&](PacketWriter& w) { encodeEntityDelta(w, emptyExplicit); }, 57},
        {"event field alone", [&](PacketWriter& w) { encodeEntityDelta(w, eventDelta(0x12F)); }, 17},
        {"packed value, flag 0", [&](PacketWriter& w) { encodeEntityDelta(w, narrowPacked); }, 21},
        {"packed value, flag 1", [&](PacketWriter& w) { encodeEntityDelta(w, widePacked); }, 40},
        {"empty entity list", [&](PacketWriter& w) { encodeEntityList(w, {}); }, 10},
        {"smallest snapshot", [&](PacketWriter& w) { encodeSnapshot(w, Snapshot{}); }, 147},
        {"counted block of 255", [&](PacketWriter& w) { encodeSnapshot(w, fullBlock); }, 147 + 255 * 8},
        {"player field 30 present", [&](PacketWriter& w) { encodeSnapshot(w, withField30); }, 147 + 8},
        {"empty game state", [&](PacketWriter& w) { encodeGameState(w, emptyGameState); }, 40},
        {"server command", [&](PacketWriter& w) { encodeServerCommand(w, {7, "ab"}); }, 32 + 24},
    };
    for (const Row& row : rows) {
        PacketWriter writer;
        pktWriteBits(writer, 1, 3);  // off a byte boundary: nothing may assume alignment
        row.encode(writer);
        EXPECT_EQ(bitLengthOf(writer) - 3, row.bits) << row.name;
    }
}

TEST(DemoKit, EncoderWritesMaskAndFieldsInStreamOrder) {
    EntityDelta delta;
    delta.changed = true;
    delta.selector = EXPLICIT_MASK_SELECTOR;
    delta.explicitMask = std::uint64_t{3} << 48;
    delta.fields[48].value = 0xAB;
    delta.fields[49].value = 0xCD;
    PacketWriter actual;
    encodeEntityDelta(actual, delta);
    encodeEntityDelta(actual, eventDelta(0x12F));

    PacketWriter expected;
    pktWriteBits(expected, 0b10, 2);  // kept, changed
    pktWriteBits(expected, 31, 5);
    pktWriteBits(expected, 0, 32);
    pktWriteBits(expected, 0, 16);
    pktWriteBits(expected, 3, 2);
    pktWriteBits(expected, 0xAB, 8);
    pktWriteBits(expected, 0xCD, 8);
    pktWriteBits(expected, 0b10, 2);
    pktWriteBits(expected, 7, 5);
    pktWriteBits(expected, 0x12F, 10);
    EXPECT_EQ(bytesOf(actual), bytesOf(expected)) << bitText(bytesOf(actual), bitLengthOf(actual)) << "\n"
                                                  << bitText(bytesOf(expected), bitLengthOf(expected));
}

TEST(DemoKit, GeneratorGivesTheSameDemoForTheSameSeed) {
    DemoOptions options;
    options.records = 40;
    const Bytes first = encodeDemo(generateDemo(options));
    EXPECT_EQ(encodeDemo(generateDemo(options)), first);
    EXPECT_EQ(generateDemoBytes(options), first);
    options.seed = 2;
    EXPECT_NE(encodeDemo(generateDemo(options)), first);
}

/// The operations of one kind in a demo for which `keep` holds.
template <class Kind>
int countOperations(const Demo& demo, const std::function<bool(const Kind&)>& keep) {
    int count = 0;
    for (const Record& record : demo.records) {
        for (const Operation& operation : record.message.operations) {
            const Kind* found = std::get_if<Kind>(&operation);
            if (found && keep(*found)) ++count;
        }
    }
    return count;
}

// The options the benchmark's shapes turn: each must change the demo as it says.
TEST(DemoKit, GeneratorOptionsShapeTheDemo) {
    const auto gameStates = [](const Demo& demo) {
        return countOperations<GameState>(demo, [](const GameState&) { return true; });
    };
    const auto commands = [](const Demo& demo) {
        return countOperations<ServerCommand>(demo, [](const ServerCommand&) { return true; });
    };
    // Snapshots where `check` fails.
    const auto snapshotsFailing = [](const Demo& demo, const std::function<bool(const Snapshot&)>& check) {
        return countOperations<Snapshot>(demo, [&](const Snapshot& snapshot) { return !check(snapshot); });
    };
    const struct {
        const char* name;
        std::function<void(DemoOptions&)> set;
        std::function<void(const Demo&)> expect;
    } rows[] = {
        {"a game state every 10 records", [](DemoOptions& o) { o.gameStateEvery = 10; },
         [&](const Demo& demo) { EXPECT_EQ(gameStates(demo), 4); }},
        {"commands in every message", [](DemoOptions& o) { o.commandShare = 1; },
         [&](const Demo& demo) { EXPECT_GE(commands(demo), 39); }},
        {"no commands", [](DemoOptions& o) { o.commandShare = 0; },
         [&](const Demo& demo) { EXPECT_EQ(commands(demo), 0); }},
        {"changes under the chosen preset, appearances under explicit masks",
         [](DemoOptions& o) { o.presets = {7}, o.explicitMaskShare = 0; },
         [&](const Demo& demo) {
             EXPECT_EQ(snapshotsFailing(demo, [](const Snapshot& snapshot) {
                 for (const EntityEntry& entry : snapshot.entities) {
                     if (entry.delta.changed && entry.delta.selector != 7 && entry.delta.selector != 31) return false;
                 }
                 return true;
             }), 0);
         }},
        {"every packed value wide", [](DemoOptions& o) { o.wideShare = 1; },
         [&](const Demo& demo) {
             EXPECT_EQ(snapshotsFailing(demo, [](const Snapshot& snapshot) {
                 for (std::size_t i = 0; i < snapshot.player.fields.size(); ++i) {
                     const OptionalField& field = snapshot.player.fields[i];
                     if (field.present && PLAYER_FIELDS[i].form == FieldForm::Packed && !field.field.wide) return false;
                 }
                 return true;
             }), 0);
         }},
        {"no player-state fields", [](DemoOptions& o) { o.fieldDensity = 1, o.playerFieldDensity = 0; },
         [&](const Demo& demo) {
             EXPECT_EQ(snapshotsFailing(demo, [](const Snapshot& snapshot) {
                 for (const OptionalField& field : snapshot.player.fields) {
                     if (field.present) return false;
                 }
                 return true;
             }), 0);
         }},
        {"no entity in play at the start", [](DemoOptions& o) { o.activeShare = 0; },
         [](const Demo& demo) {
             // The first snapshot holds only entities coming into play: each whole, under an explicit mask.
             for (const Record& record : demo.records) {
                 if (record.message.operations.empty()) continue;
                 const auto* snapshot = std::get_if<Snapshot>(&record.message.operations.back());
                 if (!snapshot) continue;
                 for (const EntityEntry& entry : snapshot->entities) EXPECT_EQ(entry.delta.selector, 31);
                 return;
             }
             ADD_FAILURE() << "no snapshot";
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DemoOptions options;
        options.records = 40;
        row.set(options);
        row.expect(generateDemo(options));
    }
}

}  // namespace
}  // namespace tarnic
