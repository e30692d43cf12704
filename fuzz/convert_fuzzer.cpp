// Feeds arbitrary bytes to the in-memory conversion: whatever the input, it must
// end without a crash, a hang, a leak or a read outside a buffer, what it writes
// must still be a demo made of whole records, and two threads must convert it
// exactly as one. Two threads are compared only where the input holds more records
// than one chunk: below that the second thread is given nothing, and starting it for
// every input cost nine tenths of the fuzzer's rate. The chunks are far smaller than
// the usual ones, which end at tens of kilobytes, so that inputs of the size a fuzzer
// makes span several, some ended by their bytes, some by their records.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bits/byte_order.h"
#include "driver/record_loop.h"
#include "examine/new_records.h"
#include "tarnic/byte_stream.h"
#include "tarnic/convert.h"

namespace {

constexpr tarnic::ChunkLimits CHUNKS{tarnic::RECORDS_PER_CHUNK / 2, 2 << 10, tarnic::RECORDS_PER_CHUNK};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "convert_fuzzer: %s\n", what);
    std::abort();
}

/// True where the records go on past the first chunk: its records are all whole,
/// none of them the end marker.
bool spansMoreThanOneChunk(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    for (std::size_t records = 0; !CHUNKS.full(records, at); ++records) {
        if (size - at < 8) return false;
        const auto sequence = std::int32_t(tarnic::loadLittle32(data + at));
        const auto length = std::int32_t(tarnic::loadLittle32(data + at + 4));
        if (sequence == -1 || length < 0 || std::size_t(length) > size - at - 8) return false;
        at += 8 + std::size_t(length);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tarnic::ConvertedDemo converted = tarnic::convertDemo({data, size});
    if (!tarnic::examine::splitNewDemo(converted.demo).wellFramed) fail("the converted demo is not made of whole records");
    if (!spansMoreThanOneChunk(data, size)) return 0;

    tarnic::MemorySource input({data, size});
    std::vector<std::uint8_t> demo;
    tarnic::MemorySink output(demo);
    tarnic::CollectingConsole console;
    const tarnic::ConversionResult result = tarnic::convertRecordsInChunks(input, output, console, CHUNKS);
    if (result != converted.outcome || demo != converted.demo || console.text() != converted.console)
        fail("two threads converted differently from one");
    return 0;
}
