// The two-thread conversion starts each chunk of records from a forecast of the state
// the chunk before leaves. A wrong forecast costs a second conversion, never exactness,
// so nothing else would notice forecasts that were always wrong: only the speed would
// fall to that of one thread. For every message of whole demos they must hold: the
// project's own and the benchmark's family of shapes, which hold messages made mostly of
// server commands and game states again and again in the stream; those demos convert
// without a word on the console. Forecast without the state a run of messages starts
// from and applied to it afterwards, as the threads forecast whole chunks, they must
// hold as well: over runs of one to five messages, and from the first message on;
// and so they must forecast from the last message of a run back, as far as the change
// is not yet known.
// They hold whether a forecast walks a game state or takes it to end its message: the
// generated game states, as a server's, come in messages of their own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/match_options.h"
#include "demokit/generator.h"
#include "driver/record_io.h"
#include "tarnic/byte_stream.h"
#include "transcode/message.h"

namespace tarnic {
namespace {

TEST(MessageForecast, IsTheStateEveryMessageOfWholeDemosLeaves) {
    demokit::DemoOptions quiet;
    demokit::DemoOptions busy;
    busy.seed = 5;
    busy.entities = 150;
    busy.fieldDensity = 0.8;
    demokit::DemoOptions crowded = busy;
    crowded.seed = 6;
    crowded.explicitMaskShare = 0.2;
    std::vector<demokit::DemoOptions> all = {quiet, busy, crowded};
    for (const bench::MatchShape& shape : bench::MATCH_SHAPES) all.push_back(shape.options(150));
    for (const GameStates gameStates : {GameStates::Walk, GameStates::EndMessage}) {
        for (const demokit::DemoOptions& options : all) {
            const std::string name = "seed " + std::to_string(options.seed) +
                                     (gameStates == GameStates::Walk ? ", game states walked" : ", game states end");
            const std::vector<std::uint8_t> demo = demokit::generateDemoBytes(options);
            MemorySource input(demo);
            std::vector<std::uint8_t> buffer;
            CollectingConsole console;
            ConversionState real(console);
            ConversionState forecast(console);
            PacketWriter output;
            // What the messages since `runStart` change, forecast from no state; and from
            // the first message on.
            ConversionState run(console);
            ConversionState whole(console);
            SnapshotState runStart;
            run.snapshots = whole.snapshots = unknownForecastStart();
            bool runSetHead = false;
            bool wholeSetHead = false;
            // The payloads since `runStart`, and since the first message.
            std::vector<std::pair<const std::uint8_t*, std::uint32_t>> runPayloads;
            std::vector<std::pair<const std::uint8_t*, std::uint32_t>> wholePayloads;
            const auto backward = [&](const auto& payloads, const SnapshotState& start) {
                BackwardForecast changes(console);
                for (auto payload = payloads.rbegin(); payload != payloads.rend(); ++payload) {
                    PacketReader reader{payload->first, payload->second};
                    pktResetWriter(output);
                    if (changes.addEarlier(reader, output, gameStates)) break;
                }
                return applyForecast(start, changes.changes(), changes.headSet());
            };
            int records = 0;
            for (RecordRead read = readRecord(input, buffer, true); !read.end; read = readRecord(input, buffer, true)) {
                forecast.snapshots = real.snapshots;
                PacketReader forecastReader{read.payload, read.size};
                pktResetWriter(output);
                forecastMessage(forecastReader, output, forecast, gameStates);
                settleForecast(forecast.snapshots);
                for (auto [changes, setHead] : {std::pair{&run, &runSetHead}, std::pair{&whole, &wholeSetHead}}) {
                    PacketReader changesReader{read.payload, read.size};
                    pktResetWriter(output);
                    if (forecastMessage(changesReader, output, *changes, gameStates) == MessageForecast::HeadSet) {
                        *setHead = true;
                    }
                }
                runPayloads.emplace_back(read.payload, read.size);
                wholePayloads.emplace_back(read.payload, read.size);
                PacketReader reader{read.payload, read.size};
                pktResetWriter(output);
                transcodeMessage(reader, output, real);
                ASSERT_TRUE(forecast.snapshots == real.snapshots)
                    << name << ", record with sequence " << *read.sequence;
                ASSERT_TRUE(applyForecast(SnapshotState{}, whole.snapshots, wholeSetHead) == real.snapshots)
                    << name << ", from the start to the record with sequence " << *read.sequence;
                ++records;
                if (records % 5 == 0 || records % 7 == 0) {
                    ASSERT_TRUE(applyForecast(runStart, run.snapshots, runSetHead) == real.snapshots)
                        << name << ", a run to the record with sequence " << *read.sequence;
                    ASSERT_TRUE(backward(runPayloads, runStart) == real.snapshots)
                        << name << ", a run back from the record with sequence " << *read.sequence;
                    ASSERT_TRUE(backward(wholePayloads, SnapshotState{}) == real.snapshots)
                        << name << ", back from the record with sequence " << *read.sequence << " to the start";
                    runPayloads.clear();
                    runStart = real.snapshots;
                    run.snapshots = unknownForecastStart();
                    runSetHead = false;
                }
            }
            EXPECT_EQ(records, options.records) << name;
            EXPECT_EQ(console.text(), "") << name;
        }
    }
}

}  // namespace
}  // namespace tarnic
