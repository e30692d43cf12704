// Writes a generated demo of at least the given size, record by record, so that
// the real program can be timed on it: tarnic_make_big_demo MIB PATH [SHAPE], SHAPE one
// of the names in bench/match_options.h (busy when left out)

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "bench/match_options.h"
#include "demokit/old_encoder.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: tarnic_make_big_demo MIB PATH [SHAPE]\n");
        return 2;
    }
    const std::size_t wanted = std::size_t(std::atol(argv[1])) << 20;
    std::FILE* file = std::fopen(argv[2], "wb");
    if (!file) {
        std::perror(argv[2]);
        return 1;
    }
    tarnic::demokit::DemoGenerator generator(tarnic::bench::namedMatch(argc == 4 ? argv[3] : "busy", 1 << 30));
    std::size_t written = 0;
    tarnic::demokit::Bytes chunk;
    while (written < wanted) {
        const std::optional<tarnic::demokit::Record> record = generator.next();
        if (!record) break;
        chunk.clear();
        tarnic::demokit::appendMessageRecord(chunk, *record);
        written += std::fwrite(chunk.data(), 1, chunk.size(), file);
    }
    chunk.clear();
    tarnic::demokit::appendEndMarker(chunk);
    std::fwrite(chunk.data(), 1, chunk.size(), file);
    if (std::fclose(file) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
