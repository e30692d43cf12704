// Throughput of the in-memory conversion over a large generated demo.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/match_options.h"
#include "driver/convert.h"

namespace {

const tarnic::demokit::Bytes& busyMatchDemo() {
    // About 31 MiB of old demo; TARNIC_BENCH_RECORDS makes it smaller for quick runs.
    static const tarnic::demokit::Bytes demo = [] {
        const char* records = std::getenv("TARNIC_BENCH_RECORDS");
        return tarnic::demokit::generateDemoBytes(tarnic::bench::busyMatch(records ? std::atoi(records) : 24000));
    }();
    return demo;
}

void BM_ConvertBusyMatch(benchmark::State& state) {
    const tarnic::demokit::Bytes& demo = busyMatchDemo();
    for (auto _ : state) {
        tarnic::ConvertedDemo converted = tarnic::convertDemo(demo);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
    state.counters["input_MiB"] = double(demo.size()) / (1 << 20);
}
BENCHMARK(BM_ConvertBusyMatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same conversion into one result kept across conversions, as a batch converter
// would: what remains is the conversion itself, without fresh output memory each time.
void BM_ConvertBusyMatchReusingOutput(benchmark::State& state) {
    const tarnic::demokit::Bytes& demo = busyMatchDemo();
    tarnic::ConvertedDemo converted;
    for (auto _ : state) {
        tarnic::convertDemo(demo, converted);
        benchmark::DoNotOptimize(converted.demo.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(demo.size()));
}
BENCHMARK(BM_ConvertBusyMatchReusingOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
