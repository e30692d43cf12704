#include "driver/convert.h"

#include "common/console.h"
#include "driver/byte_stream.h"
#include "driver/record_loop.h"

namespace tarnic {

ConvertedDemo convertDemo(std::span<const std::uint8_t> oldDemo) {
    ConvertedDemo result;
    MemorySource input(oldDemo);
    MemorySink output(result.demo);
    CollectingConsole console;
    convertRecords(input, output, console);
    result.console = console.text();
    return result;
}

}  // namespace tarnic
