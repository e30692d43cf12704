// Throughput of the in-memory conversion over large generated demos.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench/match_options.h"
#include "driver/record_loop.h"
#include "tarnic/byte_stream.h"
#include "tarnic/console.h"
#include "tarnic/convert.h"

namespace {

/// Records of a benchmark demo: about 31 MiB of busy match; TARNIC_BENCH_RECORDS makes
/// the demos smaller for quick runs.
int benchRecords(int records) {
    const char* chosen = std::getenv("TARNIC_BENCH_RECORDS");
    return chosen ? std::atoi(chosen) : records;
}

const tarnic::demokit::Bytes& busyMatchDemo() {
    static const tarnic::demokit::Bytes demo =
        tarnic::demokit::generateDemoBytes(tarnic::bench::busyMatch(benchRecords(24000)));
    return demo;
}

const tarnic::demokit::Bytes& crowdedMatchDemo() {
    static const tarnic::demokit::Bytes demo =
        tarnic::demokit::generateDemoBytes(tarnic::bench::crowdedMatch(benchRecords(12800)));
    return demo;
}

void convertFresh(benchmark::State& state, const tarnic::demokit::Bytes& demo) {
    for (auto _ : state) {
        tarnic::ConvertedDemo converted = tarnic::convertDemo(demo);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
    state.counters["input_MiB"] = double(demo.size()) / (1 << 20);
}

// Into one result kept across conversions, as a batch converter would: what remains
// is the conversion itself, without fresh output memory each time.
void convertReusing(benchmark::State& state, const tarnic::demokit::Bytes& demo) {
    tarnic::ConvertedDemo converted;
    for (auto _ : state) {
        tarnic::convertDemo(demo, converted);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
    state.counters["input_MiB"] = double(demo.size()) / (1 << 20);
}

void BM_ConvertBusyMatch(benchmark::State& state) { convertFresh(state, busyMatchDemo()); }
BENCHMARK(BM_ConvertBusyMatch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertBusyMatchReusingOutput(benchmark::State& state) { convertReusing(state, busyMatchDemo()); }
BENCHMARK(BM_ConvertBusyMatchReusingOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same on one thread: what one core of the machine gives at the time of measuring,
// the scale against which the two-thread figures can be read on a shared machine.
void BM_ConvertBusyMatchOnOneThreadReusingOutput(benchmark::State& state) {
    const tarnic::demokit::Bytes& demo = busyMatchDemo();
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
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
}
BENCHMARK(BM_ConvertBusyMatchOnOneThreadReusingOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every snapshot full of changing entities: the entity lists' scan at its hardest.
void BM_ConvertCrowdedMatch(benchmark::State& state) { convertFresh(state, crowdedMatchDemo()); }
BENCHMARK(BM_ConvertCrowdedMatch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertCrowdedMatchReusingOutput(benchmark::State& state) { convertReusing(state, crowdedMatchDemo()); }
BENCHMARK(BM_ConvertCrowdedMatchReusingOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
