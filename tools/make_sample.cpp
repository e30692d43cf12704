// Writes a seeded random old demo, the same for the same arguments on every machine.
//
// The bundled sample is made, from the top of the source tree, with:
//   build/tools/tarnic_make_sample --records 300 7 examples/sample.dm3
//
// Usage: tarnic_make_sample [--records N] [--entities N] [--players N] [--density D]
//                           SEED OUTPUT

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"

namespace {

using tarnic::demokit::Bytes;
using tarnic::demokit::DemoGenerator;
using tarnic::demokit::DemoOptions;

int usage() {
    std::fprintf(stderr,
                 "Usage: tarnic_make_sample [--records N] [--entities N] [--players N] [--density D] SEED OUTPUT\n");
    return 1;
}

bool parseNumber(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

/// Writes the records as they are made: memory stays small however long the demo.
bool writeDemo(const DemoOptions& options, std::FILE* file) {
    DemoGenerator generator(options);
    Bytes bytes;
    while (const auto record = generator.next()) {
        bytes.clear();
        tarnic::demokit::appendMessageRecord(bytes, *record);
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) return false;
    }
    bytes.clear();
    if (options.endMarker) tarnic::demokit::appendEndMarker(bytes);
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    int at = 1;
    for (; at + 1 < argc && std::strncmp(argv[at], "--", 2) == 0; at += 2) {
        const std::string name = argv[at];
        long number = 0;
        if (name == "--density") {
            char* end = nullptr;
            options.fieldDensity = std::strtod(argv[at + 1], &end);
            if (end == argv[at + 1] || *end != '\0') return usage();
            continue;
        }
        if (!parseNumber(argv[at + 1], number) || number < 0 || number > 100'000'000) return usage();
        if (name == "--records") {
            options.records = int(number);
        } else if (name == "--entities") {
            options.entities = int(number);
        } else if (name == "--players") {
            options.players = int(number);
        } else {
            return usage();
        }
    }
    long seed = 0;
    if (argc - at != 2 || !parseNumber(argv[at], seed)) return usage();
    options.seed = std::uint32_t(seed);
    const char* path = argv[at + 1];

    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "tarnic_make_sample: cannot create %s\n", path);
        return 1;
    }
    const bool written = writeDemo(options, file);
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "tarnic_make_sample: cannot write %s\n", path);
        std::remove(path);
        return 1;
    }
    return 0;
}
