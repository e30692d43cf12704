// Converts an old demo in memory with the tarnic library, writes the new demo, and
// verifies it: convert_demo OLD NEW.

#include <tarnic/tarnic.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: convert_demo OLD NEW\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) return 1;
    const std::vector<std::uint8_t> oldDemo(std::istreambuf_iterator<char>(input), {});

    const tarnic::ConvertedDemo converted = tarnic::convertDemo(oldDemo);
    std::fwrite(converted.console.data(), 1, converted.console.size(), stdout);
    if (converted.outcome != tarnic::ConversionResult::Converted) return 1;
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(converted.demo.data()), std::streamsize(converted.demo.size()));

    using tarnic::examine::Protocol;
    const tarnic::examine::DemoReport report = tarnic::examine::examineDemo(converted.demo, Protocol::New);
    std::printf("%s: %llu records, %s\n", argv[2], static_cast<unsigned long long>(report.facts.records),
                report.wellFormed() ? "well-formed" : tarnic::examine::problemText(report.problem->kind).data());
    return report.wellFormed() ? 0 : 1;
}
