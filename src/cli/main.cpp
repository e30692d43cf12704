// The tarnic program: converts one old demo file into a new one beside it.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/file_names.h"
#include "cli/file_stream.h"
#include "cli/standard_output.h"
#include "driver/record_loop.h"

namespace {

using tarnic::ConversionResult;
using tarnic::cli::FileHandle;

constexpr const char* OUTPUT_SUFFIX = ".dm_48";
// Small enough to stay in the core's cache while the kernel copies into and out of
// them: with 1 MiB buffers the program spent three times as long in the kernel.
constexpr std::size_t FILE_BUFFER_BYTES = 64 << 10;

/// Converts `input` into `output`, taking both and closing both; true when the output
/// was written whole.
bool convertFile(FileHandle input, FileHandle output, tarnic::Console& console) {
    // The buffers outlive the streams that use them: both files close before they go.
    std::vector<char> inputBuffer(FILE_BUFFER_BYTES);
    std::vector<char> outputBuffer(FILE_BUFFER_BYTES);
    std::setvbuf(input.get(), inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::setvbuf(output.get(), outputBuffer.data(), _IOFBF, outputBuffer.size());
    tarnic::cli::FileSource source(input.get());
    tarnic::cli::FileSink sink(output.get());
    ConversionResult outcome = ConversionResult::OutputFailed;
    try {
        outcome = tarnic::convertRecords(source, sink, console);
    } catch (const std::bad_alloc&) {
        console.print("ERROR: out of memory\n");
    }
    if (outcome == ConversionResult::MessageTooLarge) console.print("ERROR: converted message too large\n");
    const bool closed = std::fclose(output.release()) == 0;
    input.reset();
    return closed && outcome == ConversionResult::Converted;
}

}  // namespace

int main(int argc, char** argv) {
    tarnic::cli::StandardOutput console;
    console.print("Tarnic %s - converts .dm3 demos to .dm_48\n", TARNIC_VERSION);
    const std::vector<std::string> arguments = tarnic::cli::programArguments(argc, argv);
    if (arguments.size() <= 1 || arguments[1] == "-?") {
        console.print("Usage: Tarnic <filename.dm3>\n");
        return 1;
    }
    const std::string& inputName = arguments[1];
    FileHandle input(tarnic::cli::openFile(inputName, "rb"));
    if (!input) {
        console.print("ERROR: unable to open %s\n", inputName.c_str());
        return 1;
    }
    const std::string outputName = inputName + OUTPUT_SUFFIX;
    FileHandle output(tarnic::cli::openFile(outputName, "wb"));
    if (!output) {
        console.print("ERROR: unable to create %s\n", outputName.c_str());
        return 1;
    }
    console.print("Converting...\n");
    if (!convertFile(std::move(input), std::move(output), console)) {
        // A half-written demo would look like a good one to whoever finds it.
        tarnic::cli::removeFile(outputName);
        console.print("ERROR: unable to write %s\n", outputName.c_str());
        return 1;
    }
    console.print("\n%s created successfully!\n", outputName.c_str());
    return 0;
}
