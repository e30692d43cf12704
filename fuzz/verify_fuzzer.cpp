// Feeds arbitrary bytes to the verifier as a demo of each protocol: whatever the
// input, it must end without a crash, a hang, a leak or a read outside a buffer, read
// every byte, and agree with the converter: an old demo it finds well-formed, whose
// conversion printed nothing, converts into a new demo it finds well-formed too.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tarnic/convert.h"
#include "tarnic/examine.h"

namespace {

using namespace tarnic;
using namespace tarnic::examine;

[[noreturn]] void fail(const std::string& problem) {
    std::fprintf(stderr, "verify_fuzzer: %s\n", problem.c_str());
    std::abort();
}

std::string describe(const DemoReport& report) {
    if (!report.problem) return "well-formed";
    return std::string(problemName(report.problem->kind)) + " in record " + std::to_string(report.problem->record) +
           " at bit " + std::to_string(report.problem->bit);
}

/// Checks what holds for a report of any bytes; returns it.
DemoReport checked(std::span<const std::uint8_t> bytes, Protocol protocol) {
    DemoReport report = examineDemo(bytes, protocol);
    if (report.facts.bytes != bytes.size()) fail("read " + std::to_string(report.facts.bytes) + " of the bytes");
    if (report.problem && report.problem->record > report.facts.records) fail("a problem beyond the records");
    return report;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    checked(bytes, Protocol::New);
    const DemoReport old = checked(bytes, Protocol::Old);
    if (!old.wellFormed() || !old.facts.diagnostics.empty()) return 0;
    const DemoReport result = checked(convertDemo(bytes).demo, Protocol::New);
    if (!result.wellFormed()) fail("a well-formed old demo converts into one with " + describe(result));
    if (result.facts.records != old.facts.records) fail("the conversion has a different number of records");
    return 0;
}
