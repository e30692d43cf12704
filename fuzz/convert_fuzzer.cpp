// Feeds arbitrary bytes to the in-memory conversion: whatever the input, it must
// end without a crash, a hang, a leak or a read outside a buffer, what it writes
// must still be a demo made of whole records, and two threads must convert it
// exactly as one.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "examine/new_records.h"
#include "tarnic/byte_stream.h"
#include "tarnic/convert.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "convert_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tarnic::ConvertedDemo converted = tarnic::convertDemo({data, size});
    if (!tarnic::examine::splitNewDemo(converted.demo).wellFramed) fail("the converted demo is not made of whole records");

    tarnic::MemorySource input({data, size});
    std::vector<std::uint8_t> demo;
    tarnic::MemorySink output(demo);
    tarnic::CollectingConsole console;
    const tarnic::ConversionResult result = tarnic::convertRecordsOnTwoThreads(input, output, console);
    if (result != converted.outcome || demo != converted.demo || console.text() != converted.console)
        fail("two threads converted differently from one");
    return 0;
}
