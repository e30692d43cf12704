#include "driver/convert.h"

#include "common/console.h"
#include "driver/byte_stream.h"
#include "driver/record_loop.h"

namespace tarnic {

void convertDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result) {
    result.demo.clear();
    result.console.clear();
    // The new demo is about as long as the old one: a little slack saves regrowing it.
    result.demo.reserve(oldDemo.size() + oldDemo.size() / 8 + 64);
    MemorySource input(oldDemo);
    MemorySink output(result.demo);
    CollectingConsole console;
    result.outcome = convertRecords(input, output, console);
    result.console = console.text();
}

ConvertedDemo convertDemo(std::span<const std::uint8_t> oldDemo) {
    ConvertedDemo result;
    convertDemo(oldDemo, result);
    return result;
}

}  // namespace tarnic
