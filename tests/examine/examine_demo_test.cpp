#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "info/info_string.h"
#include "support/demo_file.h"
#include "tarnic/conversion_feed.h"
#include "tarnic/convert.h"
#include "tarnic/examine.h"
#include "tarnic/report_json.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using namespace demokit;
using examine::DemoReport;
using examine::examineDemo;
using examine::ProblemKind;
using examine::Protocol;
using test::Bytes;

/// The sample's options: tools/make_sample.cpp with --records 300 and seed 7.
DemoOptions sampleOptions() {
    DemoOptions options;
    options.seed = 7;
    options.records = 300;
    return options;
}

Bytes sampleBytes() {
    std::ifstream file(TARNIC_SOURCE_DIR "/examples/sample.dm3", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

/// The facts of a demo, counted from its models.
struct ModelCounts {
    std::uint64_t gameStates = 0, commands = 0, snapshots = 0;
    std::uint32_t lowestHead = ~0u, highestHead = 0;
    std::size_t mostEntities = 0;
    std::int32_t lowestSequence = INT32_MAX, highestSequence = INT32_MIN;
    std::string serverInfo;  ///< configuration string 0 of the game state
};

ModelCounts countModels(const Demo& demo) {
    ModelCounts counts;
    for (const Record& record : demo.records) {
        counts.lowestSequence = std::min(counts.lowestSequence, record.sequence);
        counts.highestSequence = std::max(counts.highestSequence, record.sequence);
        for (const Operation& operation : record.message.operations) {
            if (const auto* gameState = std::get_if<GameState>(&operation)) {
                ++counts.gameStates;
                for (const GameStateEntry& entry : gameState->entries) {
                    const auto* config = std::get_if<ConfigString>(&entry);
                    if (config && config->index == 0) counts.serverInfo = config->text;
                }
            }
            if (std::holds_alternative<ServerCommand>(operation)) ++counts.commands;
            if (const auto* snapshot = std::get_if<Snapshot>(&operation)) {
                ++counts.snapshots;
                counts.lowestHead = std::min(counts.lowestHead, snapshot->messageHead);
                counts.highestHead = std::max(counts.highestHead, snapshot->messageHead);
                counts.mostEntities = std::max(counts.mostEntities, snapshot->entities.size());
            }
        }
    }
    return counts;
}

// The sample holds what the generator put in, read the same from the old demo and from its conversion.
TEST(ExamineDemo, SampleAndItsConversionHoldWhatTheGeneratorPutIn) {
    const Demo model = generateDemo(sampleOptions());
    const Bytes sample = sampleBytes();
    ASSERT_EQ(encodeDemo(model), sample) << "the sample is no longer what its options make";
    const ModelCounts expected = countModels(model);
    const Bytes converted = convertDemo(sample).demo;
    for (const auto& [protocol, bytes] : {std::pair{Protocol::Old, sample}, std::pair{Protocol::New, converted}}) {
        SCOPED_TRACE(protocol == Protocol::Old ? "old" : "new");
        const DemoReport report = examineDemo(bytes, protocol);
        EXPECT_TRUE(report.wellFormed()) << examine::problemName(report.problem->kind);
        const examine::DemoFacts& facts = report.facts;
        EXPECT_EQ(facts.bytes, bytes.size());
        EXPECT_EQ(facts.records, model.records.size());
        EXPECT_EQ(facts.lowestSequence, expected.lowestSequence);
        EXPECT_EQ(facts.highestSequence, expected.highestSequence);
        EXPECT_EQ(facts.operations[OP_GAMESTATE], expected.gameStates);
        EXPECT_EQ(facts.operations[OP_SERVERCOMMAND], expected.commands);
        EXPECT_EQ(facts.operations[OP_SNAPSHOT], expected.snapshots);
        EXPECT_EQ(facts.snapshotRecords, expected.snapshots);  // one snapshot a message at most
        EXPECT_EQ(facts.lowestMessageHead, expected.lowestHead);
        EXPECT_EQ(facts.highestMessageHead, expected.highestHead);
        EXPECT_EQ(facts.mostEntities, expected.mostEntities);
        EXPECT_TRUE(facts.diagnostics.empty());
        // Configuration strings 0 and 1 are info strings; players have one each, from 544 on.
        ASSERT_EQ(facts.infoStrings.size(), 2u);
        EXPECT_EQ(facts.infoStrings[0].pairs.size(), infoPairs(expected.serverInfo).size());
        EXPECT_EQ(facts.infoStrings[0].pairs.front().second, std::string(infoPairs(expected.serverInfo).front().second));
        ASSERT_EQ(facts.players.size(), std::size_t(sampleOptions().players));
        for (std::size_t player = 0; player < facts.players.size(); ++player) {
            EXPECT_EQ(facts.players[player].index, 544 + player);
        }
    }
}

/// A new-protocol record.
void appendNewRecord(Bytes& demo, std::int32_t sequence, const Bytes& payload) {
    test::appendLittle32(demo, std::uint32_t(sequence));
    test::appendLittle32(demo, std::uint32_t(payload.size() + 4));
    test::appendLittle32(demo, 1000);
    demo.insert(demo.end(), payload.begin(), payload.end());
}

void appendNewEndMarker(Bytes& demo) { demo.insert(demo.end(), 8, 0xFF); }

Bytes payloadOf(const std::function<void(PacketWriter&)>& write) {
    PacketWriter writer;
    write(writer);
    return test::bytesOf(writer);
}

/// A game state with one empty baseline: 67 bits, so 5 bits of padding.
Bytes baselineGameState(bool dirtyPadding) {
    Bytes payload = payloadOf([](PacketWriter& w) {
        pktWriteBits(w, OP_GAMESTATE, 8);
        pktWriteBits(w, 0, 32);
        pktWriteBits(w, OP_BASELINE, 8);
        pktWriteBits(w, 3, 10);
        pktWriteBits(w, 1, 1);  // removed
        pktWriteBits(w, 0, 8);  // end of entries
    });
    if (dirtyPadding) payload.back() |= 0x80;
    return payload;
}

Bytes command(std::string_view text, bool terminated = true) {
    Bytes payload = {OP_SERVERCOMMAND, 1, 0, 0, 0};
    for (const char c : text) payload.push_back(std::uint8_t(c));
    if (terminated) payload.push_back(0);
    return payload;
}

/// Two good records, then one that holds `payload`, then the end marker.
Bytes newDemoWith(const Bytes& payload) {
    Bytes demo;
    appendNewRecord(demo, 10, command("plink \"hi\""));
    appendNewRecord(demo, 11, {OP_NOP});
    appendNewRecord(demo, 12, payload);
    appendNewEndMarker(demo);
    return demo;
}

Bytes oldDemoWith(const Bytes& payload) {
    Bytes demo;
    test::appendRecord(demo, 10, command("plink \"hi\""));
    test::appendRecord(demo, 11, {OP_NOP});
    test::appendRecord(demo, 12, payload);
    test::appendEndMarker(demo);
    return demo;
}

struct Damage {
    const char* name;
    Protocol protocol;
    Bytes demo;
    ProblemKind kind;
    std::uint64_t record;
    std::int32_t sequence;  ///< -1: none read
    int operation;          ///< -1: not inside a payload
    std::uint8_t code;
    std::uint64_t bit;
};

std::vector<Damage> damages() {
    const Bytes good = newDemoWith({OP_NOP});
    Bytes noEnd = good;
    noEnd.resize(noEnd.size() - 8);
    Bytes shortLength = good;
    shortLength[4] = 3;  // the first record's length: less than its messageHead
    Bytes cutHeader = noEnd;
    cutHeader.insert(cutHeader.end(), {7, 0, 0, 0, 9});
    Bytes cutPayload = noEnd;
    appendNewRecord(cutPayload, 13, command("cut"));
    cutPayload.resize(cutPayload.size() - 2);
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes oldNoEnd = oldDemoWith({OP_NOP});
    oldNoEnd.resize(oldNoEnd.size() - 8);
    Bytes oldNegative = oldNoEnd;
    test::appendLittle32(oldNegative, 13);
    test::appendLittle32(oldNegative, 0x80000000u);
    const Bytes longString = command(std::string(1024, 'x'));
    using enum ProblemKind;
    const Protocol NEW = Protocol::New, OLD = Protocol::Old;
    return {
        {"unknown operation", NEW, newDemoWith({OP_NOP, 200}), UnknownOperation, 2, 12, 1, 200, 8},
        {"bad operation", NEW, newDemoWith({OP_BAD}), IllegalOperation, 2, 12, 0, OP_BAD, 0},
        {"download", NEW, newDemoWith({OP_NOP, OP_NOP, OP_DOWNLOAD}), IllegalOperation, 2, 12, 2, OP_DOWNLOAD, 16},
        {"unknown entry", NEW, newDemoWith({OP_GAMESTATE, 0, 0, 0, 0, 9, 0}), UnknownEntry, 2, 12, 0, OP_GAMESTATE, 40},
        {"field past end", NEW, newDemoWith({OP_NOP, OP_SERVERCOMMAND, 1, 2}), FieldPastEnd, 2, 12, 1, OP_SERVERCOMMAND, 16},
        {"string past end", NEW, newDemoWith(command("no end", false)), StringPastEnd, 2, 12, 0, OP_SERVERCOMMAND, 40},
        {"string too long", NEW, newDemoWith(longString), StringTooLong, 2, 12, 0, OP_SERVERCOMMAND, 40},
        {"bits left over", NEW, newDemoWith(baselineGameState(true)), BitsLeftOver, 2, 12, 0, OP_GAMESTATE, 67},
        {"missing end marker", NEW, noEnd, MissingEndMarker, 3, -1, -1, 0, 0},
        {"bad record length", NEW, shortLength, BadRecordLength, 0, 10, -1, 0, 0},
        {"header cut short", NEW, cutHeader, RecordCutShort, 3, 7, -1, 0, 0},
        {"payload cut short", NEW, cutPayload, RecordCutShort, 3, 13, -1, 0, 0},
        {"bytes after the end", NEW, trailing, DataAfterEnd, 3, -1, -1, 0, 0},
        {"old: unknown operation", OLD, oldDemoWith({OP_NOP, 200}), UnknownOperation, 2, 12, 1, 200, 8},
        {"old: download", OLD, oldDemoWith({OP_DOWNLOAD}), IllegalOperation, 2, 12, 0, OP_DOWNLOAD, 0},
        // Kept by the conversion, so a problem of the old demo too, placed where its operation begins.
        {"old: unknown entry", OLD, oldDemoWith({OP_NOP, OP_GAMESTATE, 0, 0, 0, 0, 9, 0}), UnknownEntry, 2, 12, 1,
         OP_GAMESTATE, 8},
        {"old: operation past end", OLD, oldDemoWith({OP_NOP, OP_SERVERCOMMAND, 1}), FieldPastEnd, 2, 12, 1,
         OP_SERVERCOMMAND, 8},
        {"old: missing end marker", OLD, oldNoEnd, MissingEndMarker, 3, -1, -1, 0, 0},
        {"old: negative length", OLD, oldNegative, BadRecordLength, 3, 13, -1, 0, 0},
    };
}

TEST(ExamineDemo, EachDamageIsReportedWithItsPlace) {
    EXPECT_TRUE(examineDemo(newDemoWith(baselineGameState(false)), Protocol::New).wellFormed());
    EXPECT_TRUE(examineDemo(oldDemoWith({OP_NOP}), Protocol::Old).wellFormed());
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.name);
        const DemoReport report = examineDemo(damage.demo, damage.protocol);
        ASSERT_TRUE(report.problem);
        const examine::Problem& problem = *report.problem;
        EXPECT_EQ(examine::problemName(problem.kind), examine::problemName(damage.kind));
        EXPECT_EQ(problem.record, damage.record);
        EXPECT_EQ(problem.hasSequence ? problem.sequence : -1, damage.sequence);
        EXPECT_EQ(problem.inPayload ? int(problem.operation) : -1, damage.operation);
        if (!problem.inPayload) continue;
        EXPECT_EQ(problem.code, damage.code);
        EXPECT_EQ(problem.bit, damage.bit);
    }
}

// Whatever the bytes, a verdict comes back, and the size read is the size given.
TEST(ExamineDemo, GarbageGetsAVerdict) {
    std::mt19937 engine(77);
    for (int round = 0; round < 400; ++round) {
        Bytes demo(engine() % 200);
        for (std::uint8_t& byte : demo) byte = std::uint8_t(engine() % 4 == 0 ? engine() : engine() % 8);
        for (const Protocol protocol : {Protocol::Old, Protocol::New}) {
            const DemoReport report = examineDemo(demo, protocol);
            EXPECT_EQ(report.facts.bytes, demo.size());
        }
    }
}

/// Feeds `demo` in pieces whose sizes `nextPiece` picks (some empty), taking the
/// output away after every piece as a streaming caller does: the report, and in
/// `result` the whole output, messages and outcome.
DemoReport feedInPieces(const Bytes& demo, const std::function<std::size_t()>& nextPiece, ConvertedDemo& result) {
    ConvertedDemo fed;
    examine::ConversionFeed feed(fed);
    Bytes output;
    for (std::size_t at = 0; at < demo.size();) {
        const std::size_t piece = std::min(nextPiece(), demo.size() - at);
        if (piece % 2 == 0) {
            feed.add(std::span(demo).subspan(at, piece));
        } else {
            std::copy_n(demo.begin() + std::ptrdiff_t(at), piece, feed.room(piece).begin());
            feed.add(piece);
        }
        at += piece;
        output.insert(output.end(), fed.demo.begin(), fed.demo.end());
        fed.demo.clear();
    }
    const DemoReport report = feed.finish();
    output.insert(output.end(), fed.demo.begin(), fed.demo.end());
    result = {output, fed.console, fed.outcome};
    return report;
}

// One pass that converts and examines gives what the two calls give apart: the same
// bytes, messages and outcome, and the same report, on good, damaged and random demos;
// and so does that pass fed in pieces, wherever they split the records.
TEST(ExamineDemo, ConvertingAndExaminingInOnePassGivesWhatEachGivesAlone) {
    std::vector<std::pair<std::string, Bytes>> demos = {{"sample", sampleBytes()}, {"empty", {}}};
    for (Damage& damage : damages()) {
        if (damage.protocol == Protocol::Old) demos.emplace_back(damage.name, std::move(damage.demo));
    }
    const Bytes sample = sampleBytes();
    demos.emplace_back("sample cut short", Bytes(sample.begin(), sample.begin() + std::ptrdiff_t(sample.size() / 3)));
    Bytes trailing = sample;
    trailing.push_back(7);
    demos.emplace_back("bytes after the end", std::move(trailing));
    std::mt19937 engine(1234);
    for (int round = 0; round < 100; ++round) {
        Bytes demo(engine() % 200);
        for (std::uint8_t& byte : demo) byte = std::uint8_t(engine() % 4 == 0 ? engine() : engine() % 8);
        demos.emplace_back("random " + std::to_string(round), std::move(demo));
    }
    ConvertedDemo both;
    for (const auto& [name, demo] : demos) {
        SCOPED_TRACE(name);
        const DemoReport report = examine::convertAndExamineDemo(demo, both);
        const ConvertedDemo alone = convertDemo(demo);
        EXPECT_TRUE(both.demo == alone.demo);
        EXPECT_EQ(both.console, alone.console);
        EXPECT_EQ(both.outcome, alone.outcome);
        const DemoReport apart = examineDemo(demo, Protocol::Old);
        const std::string json = examine::examinedDemoJson({std::nullopt, Protocol::Old, &report, {}}, true);
        EXPECT_EQ(json, examine::examinedDemoJson({std::nullopt, Protocol::Old, &apart, {}}, true));
        const std::vector<std::pair<std::string, std::function<std::size_t()>>> piecings = {
            {"whole", [] { return SIZE_MAX; }},
            {"byte by byte", [] { return 1; }},
            {"random pieces", [&engine] { return engine() % 3 == 0 ? 0 : engine() % 97; }},
        };
        for (const auto& [piecing, nextPiece] : piecings) {
            SCOPED_TRACE(piecing);
            ConvertedDemo fed;
            const DemoReport fedReport = feedInPieces(demo, nextPiece, fed);
            EXPECT_TRUE(fed.demo == both.demo);
            EXPECT_EQ(fed.console, both.console);
            EXPECT_EQ(fed.outcome, both.outcome);
            EXPECT_EQ(examine::examinedDemoJson({std::nullopt, Protocol::Old, &fedReport, {}}, true), json);
        }
    }
}

}  // namespace
}  // namespace tarnic
