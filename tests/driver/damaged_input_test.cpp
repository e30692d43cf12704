// Damaged demos: the bundled sample cut short, bit-flipped and with bad record
// headers, and real operations cut mid-way. Whatever the damage, the conversion
// must not crash, hang or allocate from a bad length, and must keep every record
// the damage did not reach exactly as the whole demo converts it.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bits/byte_order.h"
#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "driver/record_loop.h"
#include "examine/new_reader.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"
#include "tarnic/examine.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using test::Bytes;
using test::hexText;

constexpr std::size_t HEADER_BYTES = 8;

/// One record of an old demo as it lies in the file.
struct OldRecord {
    std::size_t offset = 0;  ///< of its header
    std::size_t end = 0;     ///< one past its last payload byte
    std::int32_t sequence = 0;
};

struct OldLayout {
    std::vector<OldRecord> records;
    std::size_t endMarker = 0;  ///< offset of the end marker
};

OldLayout layoutOf(const Bytes& demo) {
    OldLayout layout;
    std::size_t at = 0;
    while (demo.size() - at >= HEADER_BYTES) {
        const auto sequence = std::int32_t(loadLittle32(&demo[at]));
        if (sequence == -1) break;
        const std::size_t end = at + HEADER_BYTES + loadLittle32(&demo[at + 4]);
        layout.records.push_back({at, end, sequence});
        at = end;
    }
    layout.endMarker = at;
    return layout;
}

/// The bundled sample and its whole conversion: the reference every damaged copy is held to.
struct Reference {
    Bytes input;
    OldLayout layout;
    ConvertedDemo converted;
    test::NewDemo split;                  ///< `converted.demo` record by record
    std::vector<std::size_t> outputEnds;  ///< where each output record ends in `converted.demo`
};

const Reference& sample() {
    static const Reference reference = [] {
        Reference made;
        std::ifstream file(TARNIC_SOURCE_DIR "/examples/sample.dm3", std::ios::binary);
        made.input.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        made.layout = layoutOf(made.input);
        made.converted = convertDemo(made.input);
        made.split = test::splitNewDemo(made.converted.demo);
        std::size_t at = 0;
        for (std::size_t r = 0; r < made.layout.records.size(); ++r) {
            at += HEADER_BYTES + loadLittle32(&made.converted.demo[at + 4]);
            made.outputEnds.push_back(at);
        }
        return made;
    }();
    return reference;
}

/// The output of the sample's first `records` records, as the whole conversion gives them.
Bytes referencePrefix(std::size_t records) {
    const Reference& reference = sample();
    const std::size_t bytes = records == 0 ? 0 : reference.outputEnds[records - 1];
    return Bytes(reference.converted.demo.begin(), reference.converted.demo.begin() + std::ptrdiff_t(bytes));
}

/// Where two demos first differ, with the bytes around it.
std::string differenceText(const Bytes& actual, const Bytes& expected) {
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const std::size_t at = std::size_t(a - actual.begin());
    const std::size_t from = at < 16 ? 0 : at - 16;
    auto window = [&](const Bytes& bytes) {
        const std::size_t to = std::min(bytes.size(), at + 16);
        return hexText(Bytes(bytes.begin() + std::ptrdiff_t(std::min(from, to)), bytes.begin() + std::ptrdiff_t(to)));
    };
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(at) + " (window from byte " + std::to_string(from) +
           ")\n  actual:   " + window(actual) + "\n  expected: " + window(expected);
}

// ---------------------------------------------------------------------------------
// Cuts

/// What the sample cut after `cut` bytes must convert to.
struct CutOutcome {
    std::size_t wholeRecords = 0;  ///< records lying wholly before the cut
    bool endMarker = false;        ///< the end marker's sequence lies wholly before the cut
    std::string console;
};

CutOutcome outcomeOfCut(std::size_t cut) {
    const OldLayout& layout = sample().layout;
    CutOutcome outcome;
    while (outcome.wholeRecords < layout.records.size() && layout.records[outcome.wholeRecords].end <= cut) {
        ++outcome.wholeRecords;
    }
    if (outcome.wholeRecords == layout.records.size()) {
        outcome.endMarker = cut >= layout.endMarker + 4;
        return outcome;
    }
    const OldRecord& cutRecord = layout.records[outcome.wholeRecords];
    // A cut inside the header leaves no record; a cut inside the payload drops it.
    if (cut >= cutRecord.offset + HEADER_BYTES) {
        outcome.console = "WARNING: last record (sequence " + std::to_string(cutRecord.sequence) + ") is cut short; dropped\n";
    }
    return outcome;
}

/// Every offset of the first records (the game state among them) and of the last
/// record and end marker, every offset around a stride of record headers, and a
/// stride over the rest.
std::vector<std::size_t> cutOffsets() {
    const Reference& reference = sample();
    const auto& records = reference.layout.records;
    std::set<std::size_t> cuts;
    for (std::size_t cut = 0; cut <= records[2].end; ++cut) cuts.insert(cut);
    for (std::size_t cut = records.back().offset; cut <= reference.input.size(); ++cut) cuts.insert(cut);
    for (std::size_t r = 3; r < records.size(); r += 10) {
        for (std::size_t cut = records[r].offset - 1; cut <= records[r].offset + HEADER_BYTES + 1; ++cut) cuts.insert(cut);
    }
    for (std::size_t cut = 0; cut < reference.input.size(); cut += 251) cuts.insert(cut);
    return {cuts.begin(), cuts.end()};
}

TEST(DamagedInput, CutSampleKeepsEveryWholeRecordAndDropsTheCutOne) {
    const Reference& reference = sample();
    ASSERT_EQ(reference.layout.records.size(), 300u);
    ASSERT_EQ(reference.layout.endMarker + HEADER_BYTES, reference.input.size());
    ASSERT_EQ(reference.converted.console, "");
    ASSERT_EQ(reference.outputEnds.back() + 8, reference.converted.demo.size());

    for (const std::size_t cut : cutOffsets()) {
        // A copy of its own, so that a read past the cut is a read past a buffer.
        const Bytes input(reference.input.begin(), reference.input.begin() + std::ptrdiff_t(cut));
        const ConvertedDemo converted = convertDemo(input);
        const CutOutcome outcome = outcomeOfCut(cut);
        Bytes expected = referencePrefix(outcome.wholeRecords);
        if (outcome.endMarker) expected.insert(expected.end(), 8, 0xFF);
        ASSERT_TRUE(converted.demo == expected) << "cut after byte " << cut << ": "
                                                << differenceText(converted.demo, expected);
        ASSERT_EQ(converted.console, outcome.console) << "cut after byte " << cut;
    }
}

// ---------------------------------------------------------------------------------
// Bit flips and bad headers

/// The largest growth of any operation: a 15-byte "scores 32" command becomes about
/// 915 bytes. Output beyond this many times the input came from something other than data.
constexpr std::size_t MAX_GROWTH = 64;

/// Draws are reduced by hand: distributions differ between standard libraries, and a
/// printed seed must give the same damage everywhere.
std::uint32_t below(std::mt19937& dice, std::size_t bound) { return std::uint32_t(dice() % bound); }

/// What holds whatever the damage: the records before the first damaged one convert
/// as in the whole demo, the output is well framed and bounded by the input, and every
/// record, a truncated one included, is a well-formed new payload.
test::NewDemo expectContained(const Bytes& damaged, std::size_t firstDamagedRecord) {
    const ConvertedDemo converted = convertDemo(damaged);
    const Bytes kept = referencePrefix(firstDamagedRecord);
    EXPECT_TRUE(converted.demo.size() >= kept.size() && std::equal(kept.begin(), kept.end(), converted.demo.begin()))
        << "records before the damage changed: " << differenceText(converted.demo, kept);
    EXPECT_LE(converted.demo.size(), MAX_GROWTH * damaged.size() + 8);
    const test::NewDemo demo = test::splitNewDemo(converted.demo);
    EXPECT_TRUE(demo.wellFramed);
    for (const test::NewRecord& record : demo.records) {
        const examine::NewPayload payload = examine::readNewPayload(record.payload);
        // Damaged codes pass through as the converter reports them; bodies must stay whole.
        EXPECT_TRUE(payload.bodiesIntact) << "record (sequence " << record.sequence << "): "
                                          << test::problemText(payload) << "\n" << hexText(record.payload);
    }
    return demo;
}

TEST(DamagedInput, BitFlipsInPayloadsKeepTheFramingAndEveryRecordWellFormed) {
    const Reference& reference = sample();
    const auto& records = reference.layout.records;
    for (std::uint32_t seed = 1; seed <= 120; ++seed) {
        std::mt19937 dice(seed);
        Bytes damaged = reference.input;
        std::size_t firstDamaged = records.size();
        for (std::uint32_t flips = 1 + below(dice, 8); flips > 0; --flips) {
            // Early records carry the game state and the first snapshots: damage them often.
            const std::size_t r = below(dice, 2) ? below(dice, 4) : below(dice, records.size());
            const std::size_t payloadBits = (records[r].end - records[r].offset - HEADER_BYTES) * 8;
            if (payloadBits == 0) continue;
            const std::size_t bit = (records[r].offset + HEADER_BYTES) * 8 + below(dice, payloadBits);
            damaged[bit / 8] ^= std::uint8_t(1u << bit % 8);
            firstDamaged = std::min(firstDamaged, r);
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", first damaged record " + std::to_string(firstDamaged));
        const test::NewDemo demo = expectContained(damaged, firstDamaged);
        EXPECT_TRUE(demo.endMarker);
        ASSERT_EQ(demo.records.size(), records.size());
        for (std::size_t r = 0; r < records.size(); ++r) ASSERT_EQ(demo.records[r].sequence, records[r].sequence);
        if (HasFailure()) return;
    }
}

/// One way of damaging a record header: gives the new header's two fields.
struct HeaderDamage {
    const char* name;
    void (*damage)(std::mt19937& dice, std::uint32_t& sequence, std::uint32_t& length);
};

const HeaderDamage HEADER_DAMAGES[] = {
    {"random bytes",
     [](std::mt19937& dice, std::uint32_t& sequence, std::uint32_t& length) {
         for (std::uint32_t count = 1 + below(dice, 8); count > 0; --count) {
             const std::uint32_t byte = below(dice, 8);
             std::uint32_t& field = byte < 4 ? sequence : length;
             const std::uint32_t shift = byte % 4 * 8;
             field = (field & ~(0xFFu << shift)) | std::uint32_t(below(dice, 256)) << shift;
         }
     }},
    {"length a little off",
     [](std::mt19937& dice, std::uint32_t& /*sequence*/, std::uint32_t& length) {
         const std::uint32_t delta = 1 + below(dice, 16);
         length = below(dice, 2) ? length + delta : length - delta;
     }},
    {"length of random bits", [](std::mt19937& dice, std::uint32_t&, std::uint32_t& length) { length = dice(); }},
    {"sequence of random bits", [](std::mt19937& dice, std::uint32_t& sequence, std::uint32_t&) { sequence = dice(); }},
};

TEST(DamagedInput, BadRecordHeadersLeaveEarlierRecordsAndFramingIntact) {
    const Reference& reference = sample();
    const auto& records = reference.layout.records;
    for (const HeaderDamage& kind : HEADER_DAMAGES) {
        for (std::uint32_t seed = 1; seed <= 30; ++seed) {
            std::mt19937 dice(seed);
            const std::size_t r = below(dice, 3) == 0 ? below(dice, 3) : below(dice, records.size());
            Bytes damaged = reference.input;
            std::uint8_t* header = &damaged[records[r].offset];
            std::uint32_t sequence = loadLittle32(header);
            std::uint32_t length = loadLittle32(header + 4);
            kind.damage(dice, sequence, length);
            storeLittle32(header, sequence);
            storeLittle32(header + 4, length);
            SCOPED_TRACE(std::string(kind.name) + ", seed " + std::to_string(seed) + ": record " + std::to_string(r) +
                         " header " + hexText(Bytes(header, header + HEADER_BYTES)));
            const test::NewDemo demo = expectContained(damaged, r);
            // Only -1 means something: any other sequence is copied and changes nothing else.
            if (length == loadLittle32(&reference.input[records[r].offset + 4]) && sequence != 0xFFFFFFFFu) {
                const test::NewDemo& whole = reference.split;
                ASSERT_EQ(demo.records.size(), whole.records.size());
                EXPECT_EQ(demo.records[r].sequence, std::int32_t(sequence));
                for (std::size_t k = 0; k < whole.records.size(); ++k) {
                    ASSERT_EQ(demo.records[k].messageHead, whole.records[k].messageHead) << "record " << k;
                    ASSERT_TRUE(demo.records[k].payload == whole.records[k].payload)
                        << "record " << k << "\n  actual:   " << hexText(demo.records[k].payload)
                        << "\n  expected: " << hexText(whole.records[k].payload);
                }
            }
            if (HasFailure()) return;
        }
    }
}

long peakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(DamagedInput, LengthBeyondATinyFileAllocatesNothingLikeIt) {
    // Peak memory only shows growth beyond the previous peak: the larger claims come last.
    for (const std::uint32_t length : {0x40000000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        Bytes demo;
        test::appendRecord(demo, 1, {OP_NOP});
        test::appendLittle32(demo, 2);
        test::appendLittle32(demo, length);
        demo.resize(100, OP_NOP);
        const long before = peakResidentKilobytes();
        const ConvertedDemo converted = convertDemo(demo);
        const long grown = peakResidentKilobytes() - before;
        EXPECT_LT(grown, 64 * 1024) << "length " << length << ": peak memory grew by " << grown << " KiB";
        EXPECT_EQ(test::splitNewDemo(converted.demo).records.size(), 1u) << "length " << length;
    }
}

// ---------------------------------------------------------------------------------
// Operations cut mid-way

/// The first operation of each kind in a generated match.
struct MatchOperations {
    demokit::Operation gameState, snapshot, plink, configString, scores;
};

MatchOperations matchOperations() {
    demokit::DemoOptions options;
    options.seed = 7;
    options.records = 300;
    const demokit::Demo demo = demokit::generateDemo(options);
    MatchOperations found;
    std::set<std::string> seen;
    auto keep = [&](const std::string& kind, demokit::Operation& slot, const demokit::Operation& operation) {
        if (seen.insert(kind).second) slot = operation;
    };
    for (const demokit::Record& record : demo.records) {
        for (const demokit::Operation& operation : record.message.operations) {
            if (std::holds_alternative<demokit::GameState>(operation)) keep("game state", found.gameState, operation);
            if (const auto* snapshot = std::get_if<demokit::Snapshot>(&operation); snapshot && !snapshot->entities.empty()) {
                keep("snapshot", found.snapshot, operation);
            }
            if (const auto* command = std::get_if<demokit::ServerCommand>(&operation)) {
                if (command->text.starts_with("plink")) keep("plink", found.plink, operation);
                if (command->text.starts_with("cs")) keep("cs", found.configString, operation);
                if (command->text.starts_with("scores")) keep("scores", found.scores, operation);
            }
        }
    }
    EXPECT_EQ(seen.size(), 5u) << "the generator no longer makes every kind of operation";
    return found;
}

/// A demo of two records: 40 holds `first`, 41 holds `second`.
Bytes twoRecords(const Bytes& first, const Bytes& second) {
    Bytes demo;
    test::appendRecord(demo, 40, first);
    test::appendRecord(demo, 41, second);
    test::appendEndMarker(demo);
    return demo;
}

TEST(DamagedInput, OperationCutMidwayLeavesNoTraceInTheOutputOrTheNextRecord) {
    const MatchOperations operations = matchOperations();
    // The snapshot sends masked array 2, and so does the next record's: were the cut one
    // to leave its values behind as sent, the next one would send fewer changes.
    demokit::Snapshot snapshot = std::get<demokit::Snapshot>(operations.snapshot);
    demokit::MaskedArray& array2 = snapshot.player.arrays[1];
    array2.present = true;
    array2.mask = 0x00FF;
    for (std::uint32_t j = 0; j < 8; ++j) array2.values[j] = 100 + j;
    demokit::Snapshot nextSnapshot = snapshot;
    nextSnapshot.messageHead += 1;
    const struct {
        const char* name;
        demokit::Operation operation;
    } rows[] = {
        {"game state", operations.gameState},   {"snapshot", snapshot},
        {"plink command", operations.plink},    {"cs command", operations.configString},
        {"scores command", operations.scores},
    };
    const demokit::Operation before = demokit::ServerCommand{98, "plink \"before\""};
    const Bytes next = demokit::encodeMessage({{nextSnapshot, demokit::ServerCommand{99, "plink \"still here\""}}});
    const ConvertedDemo withoutTheCutOperation = convertDemo(twoRecords(demokit::encodeMessage({{before}}), next));
    ASSERT_EQ(test::splitNewDemo(withoutTheCutOperation.demo).records.size(), 2u);

    for (const auto& row : rows) {
        const Bytes whole = demokit::encodeMessage({{before, row.operation}});
        const std::size_t operationStart = demokit::encodeMessage({{before}}).size();
        for (std::size_t cut = operationStart + 1; cut < whole.size(); ++cut) {
            SCOPED_TRACE(std::string(row.name) + " of " + std::to_string(whole.size() - operationStart) +
                         " bytes cut to " + std::to_string(cut - operationStart));
            const ConvertedDemo converted =
                convertDemo(twoRecords(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)), next));
            EXPECT_NE(converted.console.find("WARNING: message 40 is truncated\n"), std::string::npos) << converted.console;
            EXPECT_EQ(converted.console.find("WARNING"), converted.console.rfind("WARNING")) << converted.console;
            // The operation before the cut is kept; of the cut one not a bit remains.
            ASSERT_TRUE(converted.demo == withoutTheCutOperation.demo)
                << differenceText(converted.demo, withoutTheCutOperation.demo);
        }
    }
}

/// Bytes of a text, without its NUL: a string the payload ends inside.
Bytes unterminated(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// An operation cut short whose transcoder printed on its way to the cut: the lines
// described bytes that are not in the file, and must go with the operation.
TEST(DamagedInput, CutOperationLeavesNoDiagnosticOnOneThreadOrTwo) {
    const Bytes gameState = {OP_GAMESTATE, 1, 0, 0, 0};
    const Bytes command = {OP_SERVERCOMMAND, 99, 0, 0, 0};
    const struct {
        const char* name;
        Bytes cut;  ///< the operation, up to where the payload ends
    } rows[] = {
        {"baseline whose entity number lies past the end", joined({gameState, {OP_BASELINE}})},
        {"configuration string of 1100 characters",
         joined({gameState, {OP_CONFIGSTRING, 40, 0}, unterminated(std::string(1100, 'x'))})},
        {"player info with a semicolon in its model",
         joined({gameState, {OP_CONFIGSTRING, 0x20, 0x02}, unterminated("\\u\\Ash\\model\\rock;y")})},
        {"server command of 1100 characters", joined({command, unterminated("plink \"" + std::string(1100, 'z'))})},
    };
    const Bytes before = demokit::encodeMessage({{demokit::ServerCommand{98, "plink \"before\""}}});
    const Bytes next = demokit::encodeMessage({{demokit::ServerCommand{99, "plink \"still here\""}}});
    const ConvertedDemo withoutTheCutOperation = convertDemo(twoRecords(before, next));
    ASSERT_EQ(withoutTheCutOperation.console, "");

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes demo = twoRecords(joined({before, row.cut}), next);
        using Convert = ConversionResult (*)(ByteSource&, ByteSink&, Console&);
        const Convert oneThread = [](ByteSource& input, ByteSink& output, Console& console) {
            return convertRecords(input, output, console);
        };
        for (const Convert convert : {oneThread, &convertRecordsOnTwoThreads}) {
            MemorySource input(demo);
            Bytes converted;
            MemorySink output(converted);
            CollectingConsole console;
            convert(input, output, console);
            EXPECT_EQ(console.text(), "WARNING: message 40 is truncated\n");
            EXPECT_TRUE(converted == withoutTheCutOperation.demo) << differenceText(converted, withoutTheCutOperation.demo);
        }
        // The verifier counts what the conversion would print.
        const examine::DemoReport report = examine::examineDemo(demo, examine::Protocol::Old);
        std::string kinds;
        for (const examine::DiagnosticCount& count : report.facts.diagnostics) kinds += count.kind + ";";
        EXPECT_EQ(kinds, "WARNING: message N is truncated;");
    }
}

}  // namespace
}  // namespace tarnic
