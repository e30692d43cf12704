#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "examine/new_reader.h"
#include "examine/new_records.h"
#include "tarnic/convert.h"
#include "support/demo_file.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using namespace demokit;
using examine::NewOperation;
using examine::NewPayload;
using examine::readNewPayload;
using test::bitLengthOf;
using test::bitText;
using test::bytesOf;
using test::hexText;

// Server commands, configuration strings and baselines under presets without field 1
// are the same bits in both protocols, so the reader must recover what was encoded.
TEST(NewReader, RecoversOperationsBothProtocolsShare) {
    GameState gameState;
    gameState.leading = 42;
    gameState.entries.emplace_back(ConfigString{0, "\\wobbletitle\\x"});
    EntityDelta moved;
    moved.changed = true;
    moved.selector = 6;  // fields 5, 6, 7, 14, 15
    moved.fields[6] = {0xDEADBEEF, true};
    gameState.entries.emplace_back(Baseline{9, moved});
    gameState.entries.emplace_back(ConfigString{600, "after a baseline, off a byte boundary"});
    gameState.entries.emplace_back(Baseline{10, EntityDelta{}});
    Message message;
    message.operations = {ServerCommand{5, "plink \"hi\n\""}, gameState, BareOperation{1}, ServerCommand{6, ""}};

    const Bytes payload = encodeMessage(message);
    const NewPayload result = readNewPayload(payload);
    ASSERT_TRUE(result.wellFormed) << test::problemText(result) << "\n" << hexText(payload);
    ASSERT_EQ(result.operations.size(), 4u);
    EXPECT_EQ(result.operations[0].text, "plink \"hi\n\"");
    EXPECT_EQ(result.operations[0].leading, 5u);
    const NewOperation& read = result.operations[1];
    EXPECT_EQ(read.leading, 42u);
    ASSERT_EQ(read.configStrings.size(), 2u);
    EXPECT_EQ(read.configStrings[1].index, 600);
    EXPECT_EQ(read.configStrings[1].text, "after a baseline, off a byte boundary");
    EXPECT_EQ(read.baselines, (std::vector<std::uint16_t>{9, 10}));
    EXPECT_EQ(result.operations[2].code, 1);
    EXPECT_EQ(result.operations[3].text, "");
}

/// A new-protocol snapshot written by hand: field 30 wide, fields 46 to 48, array 2
/// sent as changes, and an entity whose explicit mask names fields 1 and 50.
Bytes handMadeNewSnapshot() {
    PacketWriter w;
    pktWriteBits(w, 7, 8);
    pktWriteBits(w, 123, 32);
    pktWriteBits(w, 1, 8);
    pktWriteBits(w, 2, 8);
    pktWriteBits(w, 2, 8);  // counted block of two
    pktWriteBits(w, 0xFFFF, 16);
    for (int field = 1; field <= 48; ++field) {
        const bool present = field == 30 || field == 6 || field >= 46;
        pktWriteBits(w, present, 1);
        if (field == 6) {
            pktWriteBits(w, 1, 1);  // packed value, flag 1
            pktWriteBits(w, -1, 32);
        }
        if (field == 30) pktWriteBits(w, 0x3FF, 10);
        if (field == 46) pktWriteBits(w, 0, 10);
        if (field == 47) pktWriteBits(w, 0, 16);
        if (field == 48) pktWriteBits(w, 0, 8);
    }
    pktWriteBits(w, 0, 1);  // array 1
    pktWriteBits(w, 1, 1);
    pktWriteBits(w, 0x2041, 16);
    pktWriteBits(w, 11, 16);
    pktWriteBits(w, 66, 16);
    pktWriteBits(w, 1313, 16);
    pktWriteBits(w, 0, 1);  // array 3
    pktWriteBits(w, 1, 1);  // array 4: two 32-bit values
    pktWriteBits(w, 0x0003, 16);
    pktWriteBits(w, -1, 32);
    pktWriteBits(w, -1, 32);
    pktWriteBits(w, 1022, 10);
    pktWriteBits(w, 0b10, 2);
    pktWriteBits(w, 31, 5);
    pktWriteBits(w, 0x2, 32);           // field 1
    pktWriteBits(w, 0x4 << 16, 19);     // field 50
    pktWriteBits(w, 0x7FFFF, 19);
    pktWriteBits(w, 0x55, 8);
    pktWriteBits(w, 0, 10);
    pktWriteBits(w, 0b1, 1);  // removed
    pktWriteBits(w, 1023, 10);
    return bytesOf(w);
}

TEST(NewReader, WalksEveryFieldOfAHandMadeNewSnapshot) {
    const Bytes payload = handMadeNewSnapshot();
    const NewPayload result = readNewPayload(payload);
    ASSERT_TRUE(result.wellFormed) << test::problemText(result);
    ASSERT_EQ(result.operations.size(), 1u);
    const NewOperation& snapshot = result.operations[0];
    EXPECT_EQ(snapshot.array2Mask, 0x2041);
    EXPECT_EQ(snapshot.array2Values[0], 11);
    EXPECT_EQ(snapshot.array2Values[6], 66);
    EXPECT_EQ(snapshot.array2Values[13], 1313);
    EXPECT_EQ(snapshot.entityNumbers, (std::vector<std::uint16_t>{1022, 0}));
}

TEST(NewReader, ReportsDamagedPayloadsAndStaysInside) {
    const Bytes snapshot = handMadeNewSnapshot();
    // Every cut ends inside the snapshot; reading from a copy of exactly the cut
    // size lets the sanitizers catch any read beyond it.
    for (std::size_t cut = 1; cut < snapshot.size(); ++cut) {
        const Bytes part(snapshot.begin(), snapshot.begin() + std::ptrdiff_t(cut));
        EXPECT_FALSE(readNewPayload(part).wellFormed) << "cut at " << cut;
    }

    // 68 bits: four padding bits at the end.
    GameState baselineOnly;
    baselineOnly.entries.emplace_back(Baseline{1, EntityDelta{}});
    const Bytes cleanPadding = encodeMessage({{baselineOnly}});
    Bytes dirtyPadding = cleanPadding;
    dirtyPadding.back() |= 0x80;

    PacketWriter longText;
    pktWriteBits(longText, 5, 8);
    encodeServerCommand(longText, {0, std::string(1024, 'x')});
    Bytes endless = encodeMessage({{GameState{}}});
    endless.pop_back();  // the end code is gone

    struct Row {
        const char* name;
        Bytes payload;
        bool wellFormed;
    };
    const std::vector<Row> rows = {
        {"empty payload", {}, true},
        {"zero padding", cleanPadding, true},
        {"nonzero padding", dirtyPadding, false},
        {"string of 1024 characters", bytesOf(longText), false},
        {"game state without its end code", endless, false},
    };
    for (const Row& row : rows) {
        const NewPayload result = readNewPayload(row.payload);
        EXPECT_EQ(result.wellFormed, row.wellFormed) << row.name << ": " << test::problemText(result);
        EXPECT_EQ(result.problem.has_value(), !row.wellFormed) << row.name;
    }
}

TEST(NewReader, SurvivesRandomBytes) {
    std::mt19937 engine(2024);
    for (int round = 0; round < 3000; ++round) {
        Bytes payload(engine() % 48);
        for (std::uint8_t& byte : payload) byte = std::uint8_t(engine());
        constexpr std::uint8_t CODES[] = {OP_GAMESTATE, OP_SERVERCOMMAND, OP_SNAPSHOT};
        if (!payload.empty()) payload[0] = CODES[engine() % 3];  // an operation with a body
        const NewPayload result = readNewPayload(payload);
        EXPECT_EQ(result.wellFormed, !result.problem.has_value());
    }
}

/// The fast tally takes exactly the payloads the careful walk finds well-formed and
/// without a game state, and counts what that walk reads.
void expectTallyAgrees(std::span<const std::uint8_t> payload, const std::string& what) {
    examine::PayloadTally tally;
    const bool fast = examine::tallyWellFormedPayload(payload, tally);
    const NewPayload careful = readNewPayload(payload);
    examine::PayloadTally expected;
    bool gameState = false;
    for (const NewOperation& operation : careful.operations) {
        gameState = gameState || operation.code == OP_GAMESTATE;
        if (operation.code < expected.operations.size()) ++expected.operations[operation.code];
        if (operation.code == OP_SNAPSHOT) {
            expected.mostEntities = std::max(expected.mostEntities, operation.entityNumbers.size());
        }
    }
    const Bytes bytes(payload.begin(), payload.end());
    EXPECT_EQ(fast, careful.wellFormed && !gameState) << what << ": " << test::problemText(careful) << "\n"
                                                      << hexText(bytes);
    if (!fast) return;
    EXPECT_EQ(tally.operations, expected.operations) << what;
    EXPECT_EQ(tally.mostEntities, expected.mostEntities) << what;
}

TEST(NewReader, FastTallyAgreesWithTheCarefulWalk) {
    // Converted demos of every kind of content: explicit masks, wide values, dense
    // player states, game states and commands in the stream.
    struct Shape {
        const char* name;
        DemoOptions options;
    };
    std::vector<Shape> shapes(5);
    shapes[0].name = "resting and moving";
    shapes[1].name = "explicit masks, wide values";
    shapes[1].options.explicitMaskShare = 0.5;
    shapes[1].options.wideShare = 0.9;
    shapes[2].name = "every player-state field";
    shapes[2].options.playerFieldDensity = 1;
    shapes[2].options.fieldDensity = 0.9;
    shapes[3].name = "game states and commands";
    shapes[3].options.gameStateEvery = 7;
    shapes[3].options.commandShare = 0.8;
    shapes[4].name = "presets only, many entities";
    shapes[4].options.explicitMaskShare = 0;
    shapes[4].options.entities = 300;
    for (Shape& shape : shapes) {
        shape.options.records = 60;
        const ConvertedDemo converted = convertDemo(generateDemoBytes(shape.options));
        const examine::NewDemo demo = examine::splitNewDemo(converted.demo);
        ASSERT_EQ(demo.records.size(), std::size_t(shape.options.records)) << shape.name;
        for (std::size_t r = 0; r < demo.records.size(); ++r) {
            expectTallyAgrees(demo.records[r].payload, std::string(shape.name) + ", record " + std::to_string(r));
        }
    }

    // Damage the walk must see: every cut and every single flipped bit of a snapshot
    // that has a wide packed value, an explicit mask and a removal, behind a command.
    PacketWriter command;
    pktWriteBits(command, OP_SERVERCOMMAND, 8);
    encodeServerCommand(command, {3, "zap"});
    Bytes payload = bytesOf(command);
    const Bytes snapshot = handMadeNewSnapshot();
    payload.insert(payload.end(), snapshot.begin(), snapshot.end());
    for (std::size_t cut = 0; cut <= payload.size(); ++cut) {
        expectTallyAgrees(std::span(payload).first(cut), "cut at " + std::to_string(cut));
    }
    for (const std::size_t length : {MAX_STRING_CHARS - 1, MAX_STRING_CHARS}) {
        PacketWriter longest;
        pktWriteBits(longest, OP_SERVERCOMMAND, 8);
        encodeServerCommand(longest, {0, std::string(length, 'x')});
        expectTallyAgrees(bytesOf(longest), "a text of " + std::to_string(length) + " characters");
    }
    for (std::size_t bit = 0; bit < payload.size() * 8; ++bit) {
        Bytes flipped = payload;
        flipped[bit / 8] ^= std::uint8_t(1u << (bit % 8));
        expectTallyAgrees(flipped, "bit " + std::to_string(bit) + " flipped");
    }
}

}  // namespace
}  // namespace tarnic
