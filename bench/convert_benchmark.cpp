// Throughput of the in-memory conversion over the family of generated demos
// (bench/match_options.h): each shape on one thread and on two, output reused.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/match_options.h"
#include "demokit/old_encoder.h"
#include "driver/record_loop.h"
#include "tarnic/byte_stream.h"
#include "tarnic/console.h"
#include "tarnic/convert.h"

namespace {

using tarnic::demokit::Bytes;

/// A demo of about 24 MiB of the shape; TARNIC_BENCH_RECORDS makes it that many records
/// instead, for quick runs.
Bytes makeDemo(const tarnic::bench::MatchShape& shape) {
    const char* chosen = std::getenv("TARNIC_BENCH_RECORDS");
    const int records = chosen ? std::atoi(chosen) : 1 << 30;
    const std::size_t wanted = chosen ? SIZE_MAX : std::size_t{24} << 20;
    tarnic::demokit::DemoGenerator generator(shape.options(records));
    Bytes bytes;
    while (bytes.size() < wanted) {
        const std::optional<tarnic::demokit::Record> record = generator.next();
        if (!record) break;
        tarnic::demokit::appendMessageRecord(bytes, *record);
    }
    tarnic::demokit::appendEndMarker(bytes);
    return bytes;
}

/// The demo of one shape. Benchmarks run shape by shape, so only the latest is kept:
/// the family need not lie in memory at once.
const Bytes& demoOf(const tarnic::bench::MatchShape& shape) {
    static std::string_view made;
    static Bytes demo;
    if (made != shape.name) {
        demo = Bytes();
        demo = makeDemo(shape);
        made = shape.name;
    }
    return demo;
}

void count(benchmark::State& state, const Bytes& demo) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
    state.counters["input_MiB"] = double(demo.size()) / (1 << 20);
}

// On one thread, into an output reused: what one core of the machine gives.
void convertOnOneThread(benchmark::State& state, const tarnic::bench::MatchShape& shape) {
    const Bytes& demo = demoOf(shape);
    std::vector<std::uint8_t> output;
    output.reserve(demo.size() + demo.size() / 8 + 64);
    for (auto _ : state) {
        output.clear();
        tarnic::MemorySource input(demo);
        tarnic::MemorySink sink(output);
        tarnic::CollectingConsole console;
        tarnic::convertRecords(input, sink, console);
        benchmark::DoNotOptimize(output.data());
    }
    count(state, demo);
}

// The in-memory entry point (two threads on demos this large) into one result kept
// across conversions, as a batch converter would.
void convertReusing(benchmark::State& state, const tarnic::bench::MatchShape& shape) {
    const Bytes& demo = demoOf(shape);
    tarnic::ConvertedDemo converted;
    for (auto _ : state) {
        tarnic::convertDemo(demo, converted);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    count(state, demo);
}

// The same with fresh output memory each time.
void convertFresh(benchmark::State& state, const tarnic::bench::MatchShape& shape) {
    const Bytes& demo = demoOf(shape);
    for (auto _ : state) {
        tarnic::ConvertedDemo converted = tarnic::convertDemo(demo);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    count(state, demo);
}

}  // namespace

int main(int argc, char** argv) {
    // Shape by shape: OneThread/NAME and TwoThreads/NAME, and the busy match into
    // fresh output once.
    for (const tarnic::bench::MatchShape& shape : tarnic::bench::MATCH_SHAPES) {
        const std::string name(shape.name);
        benchmark::RegisterBenchmark(("OneThread/" + name).c_str(), convertOnOneThread, shape)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("TwoThreads/" + name).c_str(), convertReusing, shape)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        if (shape.name == "busy") {
            benchmark::RegisterBenchmark(("TwoThreadsFreshOutput/" + name).c_str(), convertFresh, shape)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
