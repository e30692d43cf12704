// The tarnic program: converts one old demo file into a new one beside it; options
// (arguments beginning with "--", and "-h") lead to the other forms.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/batch_inputs.h"
#include "cli/convert_file.h"
#include "cli/option_form.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/single_file_notes.h"
#include "cli/standard_output.h"
#include "cli/termination.h"

namespace {

constexpr const char* OUTPUT_SUFFIX = ".dm_48";

/// Says on standard error, after everything on standard output, what standard output
/// leaves out: why a conversion failed, and the names that were not converted.
void addNotes(const std::vector<std::string>& arguments, const std::string& outputName,
              const tarnic::cli::FileConversion& conversion) {
    const std::string& inputName = arguments[1];
    std::error_code ignored;
    const bool inputIsFolder = std::filesystem::is_directory(tarnic::cli::pathFromUtf8(inputName), ignored);
    const std::string notes = tarnic::cli::failureNote(inputName, outputName, conversion, inputIsFolder) +
                              tarnic::cli::extraNamesNote({arguments.begin() + 1, arguments.end()});
    if (notes.empty()) return;
    std::fflush(stdout);
    std::fputs(notes.c_str(), stderr);
}

/// Prints how the conversion ended, as the program always has; the exit status.
int reportOutcome(const tarnic::cli::FileConversion& conversion, const std::string& inputName,
                  const std::string& outputName, tarnic::cli::StandardOutput& console) {
    using tarnic::cli::FileOutcome;
    switch (conversion.outcome) {
        case FileOutcome::Converted:
            console.print("\n%s created successfully!\n", outputName.c_str());
            return 0;
        case FileOutcome::NotRegular:  // not asked for: any file is read
        case FileOutcome::CannotOpen: console.print("ERROR: unable to open %s\n", inputName.c_str()); return 1;
        case FileOutcome::CannotCreate: console.print("ERROR: unable to create %s\n", outputName.c_str()); return 1;
        case FileOutcome::CannotRead: console.print("ERROR: unable to read %s\n", inputName.c_str()); return 1;
        case FileOutcome::OutOfMemory: console.print("ERROR: out of memory\n"); break;
        case FileOutcome::MessageTooLarge: console.print("ERROR: converted message too large\n"); break;
        case FileOutcome::CannotWrite:
        case FileOutcome::Refused: break;
    }
    console.print("ERROR: unable to write %s\n", outputName.c_str());
    return 1;
}

int run(int argc, char** argv) {
    const std::vector<std::string> arguments = tarnic::cli::platform::startProgram(argc, argv);
    if (tarnic::cli::isOptionForm(arguments)) return tarnic::cli::runOptionForm(arguments);
    tarnic::cli::StandardOutput console;
    console.print("Tarnic %s - converts .dm3 demos to .dm_48\n", TARNIC_VERSION);
    if (arguments.size() <= 1 || arguments[1] == "-?") {
        console.print("Usage: Tarnic <filename.dm3>\n");
        return 1;
    }
    const std::string& inputName = arguments[1];
    const std::string outputName = inputName + OUTPUT_SUFFIX;
    tarnic::cli::FileConversionOptions options;
    options.onStarted = [&] {
        console.print("Converting...\n");
        std::fflush(stdout);  // shown while converting, where standard output is held in a buffer
    };
    // A second thread only where a second processor may run it and nothing else runs
    // there now (several programs started at once by xargs -P or GNU parallel): two
    // threads do about a quarter more work than one, which pays only on an idle
    // processor. convertDemoFile keeps a small regular file on one without asking.
    const unsigned usable = tarnic::cli::platform::usableProcessors();
    options.threads = usable > 1 ? tarnic::cli::Threads::Two : tarnic::cli::Threads::One;
    options.processorFreeForSecond = [usable] { return tarnic::cli::platform::idleProcessorBesideThis(usable); };
    const tarnic::cli::FileConversion conversion = tarnic::cli::convertDemoFile(inputName, outputName, console, options);
    const int status = reportOutcome(conversion, inputName, outputName, console);
    addNotes(arguments, outputName, conversion);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    tarnic::cli::startTerminationWatch();
    const int status = tarnic::cli::endProgram(run(argc, argv));
    tarnic::cli::platform::finishProgram();
    return status;
}
