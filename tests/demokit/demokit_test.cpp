#include <gtest/gtest.h>

#include <functional>
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

}  // namespace
}  // namespace tarnic
