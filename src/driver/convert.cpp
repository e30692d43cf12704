#include "tarnic/convert.h"

#if TARNIC_THREADS
#include <thread>
#endif

#include "driver/record_loop.h"
#include "tarnic/byte_stream.h"
#include "tarnic/console.h"

namespace tarnic {

void convertDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result) {
    result.demo.clear();
    result.console.clear();
    // The new demo is about as long as the old one: a little slack saves regrowing it.
    result.demo.reserve(oldDemo.size() + oldDemo.size() / 8 + 64);
    MemorySource input(oldDemo);
    MemorySink output(result.demo);
    CollectingConsole console;
    // A second thread pays for its start from a few hundred kilobytes on, and not at
    // all on one core, where the threads would only take turns.
#if TARNIC_THREADS
    const bool twoThreads = oldDemo.size() >= TWO_THREADS_FROM_BYTES && std::thread::hardware_concurrency() != 1;
#else
    const bool twoThreads = false;  // built without threads, as for the browser
#endif
    result.outcome =
        twoThreads ? convertRecordsOnTwoThreads(input, output, console) : convertRecords(input, output, console);
    result.console = console.text();
}

ConvertedDemo convertDemo(std::span<const std::uint8_t> oldDemo) {
    ConvertedDemo result;
    convertDemo(oldDemo, result);
    return result;
}

}  // namespace tarnic
