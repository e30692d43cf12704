// One verdict for both protocols: an old demo verifies exactly when its conversion
// does, but for the damage the conversion leaves out. Held over thousands of small
// generated demos, some given content the new protocol rejects, some damaged; the
// conversions are verified as the new demos they are.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"
#include "tarnic/examine.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using namespace demokit;
using examine::DemoReport;
using examine::examineDemo;
using examine::ProblemKind;
using examine::Protocol;
using test::Bytes;

/// Draws reduced by hand: distributions differ between standard libraries.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t below(std::size_t bound) { return std::uint32_t(engine_() % bound); }
    bool chance(std::uint32_t percent) { return below(100) < percent; }
    std::uint8_t byte() { return std::uint8_t(engine_()); }

private:
    std::mt19937 engine_;
};

/// A game state entry code that is none of 0, 3 and 4.
std::uint8_t unknownEntryCode(Dice& dice) {
    for (;;) {
        const std::uint8_t code = dice.byte();
        if (code != 0 && code != OP_CONFIGSTRING && code != OP_BASELINE) return code;
    }
}

/// A text of `length` bytes without NULs; past 2047 of them a read leaves the rest in
/// the stream, to be read as codes.
std::string anyText(Dice& dice, std::size_t length) {
    std::string text(length, 'x');
    for (char& c : text) c = char(1 + dice.below(255));
    return text;
}

std::size_t longLength(Dice& dice) {
    constexpr std::size_t LENGTHS[] = {1023, 1024, 1500, 2047, 2048, 2060};
    return LENGTHS[dice.below(std::size(LENGTHS))];
}

/// The first game state of the record, one added at its front where there is none.
GameState& gameStateIn(Record& record) {
    for (Operation& operation : record.message.operations) {
        if (auto* gameState = std::get_if<GameState>(&operation)) return *gameState;
    }
    auto& operations = record.message.operations;
    return std::get<GameState>(*operations.insert(operations.begin(), GameState{}));
}

void insertEntry(GameState& gameState, Dice& dice, GameStateEntry entry) {
    auto& entries = gameState.entries;
    entries.insert(entries.begin() + std::ptrdiff_t(dice.below(entries.size() + 1)), std::move(entry));
}

void insertOperation(Record& record, Dice& dice, Operation operation) {
    auto& operations = record.message.operations;
    operations.insert(operations.begin() + std::ptrdiff_t(dice.below(operations.size() + 1)), std::move(operation));
}

/// Content edits: some the new protocol rejects, some that only draw diagnostics.
void editContent(Record& record, Dice& dice) {
    switch (dice.below(7)) {
        case 0: insertEntry(gameStateIn(record), dice, BadEntryCode{unknownEntryCode(dice)}); break;
        case 1: {
            constexpr std::uint8_t BARE[] = {OP_BAD, OP_NOP, OP_CONFIGSTRING, OP_BASELINE, OP_DOWNLOAD, 8, 200, 255};
            insertOperation(record, dice, BareOperation{BARE[dice.below(std::size(BARE))]});
            break;
        }
        case 2: {
            const auto index = std::uint16_t(dice.chance(50) ? 544 + dice.below(4) : dice.below(1100));
            insertEntry(gameStateIn(record), dice, ConfigString{index, anyText(dice, longLength(dice))});
            break;
        }
        case 3: insertOperation(record, dice, ServerCommand{7, "plink \"" + anyText(dice, longLength(dice))}); break;
        case 4: insertEntry(gameStateIn(record), dice, Baseline{0, EntityDelta{}}); break;
        case 5: insertEntry(gameStateIn(record), dice, ConfigString{544, "\\u\\Ash\\model\\rock;y"}); break;
        default: insertOperation(record, dice, ServerCommand{7, "cs 1500 \"far\""}); break;
    }
}

/// Damage to the records' payloads or to the file, of the kinds a conversion leaves
/// out or stops at; now and then bits flipped anywhere in a payload.
Bytes damaged(const Demo& demo, Dice& dice) {
    std::vector<Bytes> payloads;
    for (const Record& record : demo.records) payloads.push_back(encodeMessage(record.message));
    const std::uint32_t kind = dice.below(10);
    if (!payloads.empty()) {
        Bytes& payload = payloads[dice.below(payloads.size())];
        if (kind == 0 && !payload.empty()) payload.resize(dice.below(payload.size()));
        if (kind == 1 && !payload.empty()) {
            for (std::uint32_t flips = 1 + dice.below(4); flips > 0; --flips) {
                payload[dice.below(payload.size())] ^= std::uint8_t(1u << dice.below(8));
            }
        }
    }
    Bytes bytes;
    for (std::size_t r = 0; r < payloads.size(); ++r) appendRecord(bytes, demo.records[r].sequence, payloads[r]);
    switch (kind) {
        case 2: bytes.resize(dice.below(bytes.size() + 1)); break;  // cut anywhere, the end marker gone
        case 3: break;                                                // no end marker
        case 4:
            appendLittle32(bytes, 5);
            appendLittle32(bytes, 0x80000000u + dice.below(1000));  // a negative length
            break;
        case 5:
            appendEndMarker(bytes);
            bytes.push_back(dice.byte());
            break;
        default: appendEndMarker(bytes); break;
    }
    return bytes;
}

TEST(Verdict, OldDemoVerifiesExactlyWhenItsConversionDoes) {
    constexpr std::uint32_t DEMOS = 2000;
    std::map<std::string, int> seen;  ///< how often each old verdict came up
    for (std::uint32_t seed = 1; seed <= DEMOS; ++seed) {
        Dice dice(seed);
        DemoOptions options;
        options.seed = seed;
        options.records = 1 + int(dice.below(5));
        options.entities = int(dice.below(9));
        options.players = int(dice.below(4));
        options.fieldDensity = dice.below(11) / 10.0;
        options.gameState = !dice.chance(10);
        Demo demo = generateDemo(options);
        if (!demo.records.empty() && dice.chance(60)) {
            for (std::uint32_t edits = 1 + dice.below(2); edits > 0; --edits) {
                editContent(demo.records[dice.below(demo.records.size())], dice);
            }
        }
        const Bytes old = damaged(demo, dice);
        const ConvertedDemo converted = convertDemo(old);
        const DemoReport oldReport = examineDemo(old, Protocol::Old);
        const DemoReport newReport = examineDemo(converted.demo, Protocol::New);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": old demo " +
                     (oldReport.problem ? std::string(examine::problemName(oldReport.problem->kind)) : "well-formed") +
                     ", its conversion " +
                     (newReport.problem ? std::string(examine::problemName(newReport.problem->kind)) : "well-formed"));
        const bool withDiagnostics = !oldReport.facts.diagnostics.empty();
        ++seen[oldReport.problem ? std::string(examine::problemName(oldReport.problem->kind))
                                 : withDiagnostics ? "well-formed with diagnostics" : "well-formed"];

        // An old demo that verifies converts into one that verifies: one whose conversion
        // does not verify does not verify either.
        if (oldReport.wellFormed()) {
            ASSERT_TRUE(newReport.wellFormed());
            ASSERT_EQ(newReport.facts.records, oldReport.facts.records);
            continue;
        }
        const examine::Problem& problem = *oldReport.problem;
        switch (problem.kind) {
            // Damage the conversion leaves out: the operation a message's end cuts (the
            // conversion may hold another problem later) and bytes after the end marker.
            case ProblemKind::FieldPastEnd: continue;
            case ProblemKind::DataAfterEnd: ASSERT_TRUE(newReport.wellFormed()); continue;
            // The conversion ends where the old demo does, without an end marker.
            case ProblemKind::RecordCutShort:
            case ProblemKind::MissingEndMarker:
            case ProblemKind::BadRecordLength:
                ASSERT_TRUE(newReport.problem);
                EXPECT_EQ(examine::problemName(newReport.problem->kind), "missing-end-marker");
                EXPECT_EQ(newReport.problem->record, problem.record);
                break;
            // Anything else is in the conversion too, found first there, in the same operation.
            default:
                ASSERT_TRUE(newReport.problem);
                EXPECT_EQ(examine::problemName(newReport.problem->kind), examine::problemName(problem.kind));
                EXPECT_EQ(newReport.problem->record, problem.record);
                EXPECT_EQ(newReport.problem->operation, problem.operation);
                EXPECT_EQ(newReport.problem->code, problem.code);
                break;
        }
        if (HasFailure()) return;
    }
    // Every verdict came up often enough to mean something.
    for (const char* verdict : {"well-formed", "well-formed with diagnostics", "unknown-entry", "unknown-operation",
                                "illegal-operation", "field-past-end", "record-cut-short", "missing-end-marker",
                                "bad-record-length", "data-after-end"}) {
        EXPECT_GE(seen[verdict], 30) << verdict;
    }
}

}  // namespace
}  // namespace tarnic
