// Feeds arbitrary bytes to the in-memory conversion: whatever the input, it must
// end without a crash, a hang, a leak or a read outside a buffer, and what it
// writes must still be a demo made of whole records.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "driver/convert.h"
#include "inspect/new_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tarnic::ConvertedDemo converted = tarnic::convertDemo({data, size});
    if (!tarnic::inspect::splitNewDemo(converted.demo).wellFramed) {
        std::fprintf(stderr, "convert_fuzzer: the converted demo is not made of whole records\n");
        std::abort();
    }
    return 0;
}
