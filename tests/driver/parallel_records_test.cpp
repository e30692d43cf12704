// Two threads must convert exactly as one: the same output, console and result on
// every demo, including those whose messages defeat the forecast of the state (two
// snapshots in one message, snapshots cut short, a snapshot behind a game state) and
// those whose input or output fails part-way.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bits/byte_order.h"
#include "demokit/generator.h"
#include "driver/record_loop.h"
#include "support/byte_sources.h"
#include "support/demo_file.h"
#include "tarnic/byte_stream.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

using test::Bytes;

struct Conversion {
    ConversionResult result;
    Bytes demo;
    std::string console;
};

template <class Convert>
Conversion converted(ByteSource& input, Convert convert, std::size_t outputRoom = SIZE_MAX) {
    Conversion done;
    test::FullSink output(done.demo, outputRoom);
    CollectingConsole console;
    done.result = convert(input, output, console);
    done.console = console.text();
    return done;
}

void expectSame(const Conversion& one, const Conversion& two, const std::string& name) {
    EXPECT_EQ(one.result, two.result) << name;
    EXPECT_EQ(one.console, two.console) << name;
    EXPECT_TRUE(one.demo == two.demo) << name << ": outputs differ";
}

/// The payloads of an old demo's records, with their sequences.
std::vector<std::pair<std::uint32_t, Bytes>> recordsOf(const Bytes& demo) {
    std::vector<std::pair<std::uint32_t, Bytes>> records;
    for (std::size_t at = 0; demo.size() - at >= 8;) {
        const std::uint32_t sequence = loadLittle32(&demo[at]);
        const std::uint32_t length = loadLittle32(&demo[at + 4]);
        if (sequence == 0xFFFFFFFF || length > demo.size() - at - 8) break;
        const auto payload = demo.begin() + std::ptrdiff_t(at + 8);
        records.emplace_back(sequence, Bytes(payload, payload + length));
        at += 8 + length;
    }
    return records;
}

Bytes demoOf(const std::vector<std::pair<std::uint32_t, Bytes>>& records) {
    Bytes demo;
    for (const auto& [sequence, payload] : records) test::appendRecord(demo, std::int32_t(sequence), payload);
    test::appendEndMarker(demo);
    return demo;
}

/// Every third pair of neighbouring messages made one: two snapshots in a message.
Bytes withMessagesJoined(const Bytes& demo) {
    std::vector<std::pair<std::uint32_t, Bytes>> joined;
    const auto records = recordsOf(demo);
    for (std::size_t n = 0; n < records.size(); ++n) {
        joined.push_back(records[n]);
        if (n % 3 == 1 && n + 1 < records.size()) {
            joined.back().second.insert(joined.back().second.end(), records[n + 1].second.begin(),
                                        records[n + 1].second.end());
            ++n;
        }
    }
    return demoOf(joined);
}

/// Every fifth message cut to a part of its length: truncated snapshots.
Bytes withMessagesCut(const Bytes& demo) {
    auto records = recordsOf(demo);
    for (std::size_t n = 0; n < records.size(); n += 5) records[n].second.resize(records[n].second.size() * (n % 97) / 100);
    return demoOf(records);
}

Bytes withBitsFlipped(Bytes demo, std::uint32_t seed) {
    std::mt19937 random(seed);
    for (int flip = 0; flip < 40; ++flip) demo[random() % demo.size()] ^= std::uint8_t(1u << (random() % 8));
    return demo;
}

std::vector<std::pair<std::string, Bytes>> demos() {
    demokit::DemoOptions busy;
    busy.seed = 71;
    busy.records = 400;
    busy.entities = 120;
    busy.fieldDensity = 0.7;
    demokit::DemoOptions crowded = busy;
    crowded.seed = 72;
    crowded.explicitMaskShare = 0.3;
    // Game states, which forecasts step over while they end their messages: joined,
    // some are followed by a snapshot, which proves that guess wrong.
    demokit::DemoOptions gameStates = busy;
    gameStates.seed = 73;
    gameStates.entities = 60;
    gameStates.gameStateEvery = 5;
    std::vector<std::pair<std::string, Bytes>> all;
    for (const auto& [name, options] :
         {std::pair{"busy", busy}, std::pair{"crowded", crowded}, std::pair{"game states", gameStates}}) {
        const Bytes demo = demokit::generateDemoBytes(options);
        all.emplace_back(name, demo);
        all.emplace_back(std::string(name) + ", messages joined", withMessagesJoined(demo));
        all.emplace_back(std::string(name) + ", messages cut", withMessagesCut(demo));
        all.emplace_back(std::string(name) + ", bits flipped", withBitsFlipped(demo, options.seed));
        all.emplace_back(std::string(name) + ", file cut", Bytes(demo.begin(), demo.begin() + std::ptrdiff_t(demo.size() / 3)));
    }
    return all;
}

const auto ONE_THREAD = [](ByteSource& input, ByteSink& output, Console& console) {
    return convertRecords(input, output, console);
};

/// Two threads with chunks ended at `limits`.
auto inChunks(const ChunkLimits& limits) {
    return [limits](ByteSource& input, ByteSink& output, Console& console) {
        return convertRecordsInChunks(input, output, console, limits);
    };
}

// Which thread converts which record, and when, changes from run to run: a few rounds
// of each demo meet more of the orders. Besides the usual chunks: a record a chunk,
// where every record is handed between the threads; and chunks ended by their bytes or
// their cap on records rather than their fewest records, where payloads copied into a
// chunk lie one after another.
TEST(ParallelRecords, ConvertsEveryDemoExactlyAsOneThread) {
    struct Chunking {
        std::string name;
        ChunkLimits limits;
        int rounds;
    };
    const std::vector<Chunking> chunkings = {
        {"usual chunks", ChunkLimits{}, 4},
        {"a record a chunk", ChunkLimits{1, 0, 1}, 2},
        {"chunks of 6 KB, at most 9 records", ChunkLimits{2, 6 << 10, 9}, 2},
    };
    for (const auto& [name, demo] : demos()) {
        MemorySource oneInput(demo);
        const Conversion one = converted(oneInput, ONE_THREAD);
        for (const auto& [chunking, limits, rounds] : chunkings) {
            for (int round = 0; round < rounds; ++round) {
                MemorySource borrowed(demo);
                expectSame(one, converted(borrowed, inChunks(limits)), name + ", payloads borrowed, " + chunking);
                test::CopyingSource copied(demo);
                expectSame(one, converted(copied, inChunks(limits)), name + ", payloads copied, " + chunking);
            }
        }
    }
}

TEST(ParallelRecords, StopsAtAFailingInputOrOutputExactlyAsOneThread) {
    const Bytes demo = withMessagesJoined(demos().front().second);
    for (std::size_t at = 0; at < demo.size(); at += demo.size() / 13 + 1) {
        test::FailingSource oneInput(demo, at);
        test::FailingSource twoInput(demo, at);
        expectSame(converted(oneInput, ONE_THREAD), converted(twoInput, convertRecordsOnTwoThreads),
                   "input failing after " + std::to_string(at));
        MemorySource fullOne(demo);
        MemorySource fullTwo(demo);
        expectSame(converted(fullOne, ONE_THREAD, at), converted(fullTwo, convertRecordsOnTwoThreads, at),
                   "output full after " + std::to_string(at));
    }
}

}  // namespace
}  // namespace tarnic
