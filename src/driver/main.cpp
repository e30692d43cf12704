// The tarnic program: converts one old demo file into a new one beside it.

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "common/console.h"
#include "driver/file_stream.h"
#include "driver/record_loop.h"

namespace {

constexpr const char* kOutputSuffix = ".dm_48";
// Small enough to stay in the core's cache while the kernel copies into and out of
// them: with 1 MiB buffers the program spent three times as long in the kernel.
constexpr std::size_t kFileBufferBytes = 64 << 10;

class StandardOutput final : public tarnic::Console {
public:
    void write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
};

/// Converts `input` into `output`; false when the output could not be written whole.
bool convertFile(std::FILE* input, std::FILE* output, tarnic::Console& console) {
    std::vector<char> inputBuffer(kFileBufferBytes);
    std::vector<char> outputBuffer(kFileBufferBytes);
    std::setvbuf(input, inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::setvbuf(output, outputBuffer.data(), _IOFBF, outputBuffer.size());
    tarnic::FileSource source(input);
    tarnic::FileSink sink(output);
    bool written = false;
    try {
        written = tarnic::convertRecords(source, sink, console);
        written = std::fflush(output) == 0 && written;
    } catch (const std::bad_alloc&) {
        console.print("ERROR: out of memory\n");
    } catch (const std::exception& error) {
        console.print("ERROR: %s\n", error.what());
    }
    // Closing here, while the buffers are still alive.
    written = std::fclose(output) == 0 && written;
    std::fclose(input);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    StandardOutput console;
    console.print("Tarnic %s - converts .dm3 demos to .dm_48\n", TARNIC_VERSION);
    if (argc <= 1 || std::strcmp(argv[1], "-?") == 0) {
        console.print("Usage: Tarnic <filename.dm3>\n");
        return 1;
    }
    const std::string inputName = argv[1];
    std::FILE* input = std::fopen(inputName.c_str(), "rb");
    if (!input) {
        console.print("ERROR: unable to open %s\n", inputName.c_str());
        return 1;
    }
    const std::string outputName = inputName + kOutputSuffix;
    std::FILE* output = std::fopen(outputName.c_str(), "wb");
    if (!output) {
        std::fclose(input);
        console.print("ERROR: unable to create %s\n", outputName.c_str());
        return 1;
    }
    console.print("Converting...\n");
    if (!convertFile(input, output, console)) {
        // A half-written demo would look like a good one to whoever finds it.
        std::remove(outputName.c_str());
        console.print("ERROR: unable to write %s\n", outputName.c_str());
        return 1;
    }
    console.print("\n%s created successfully!\n", outputName.c_str());
    return 0;
}
