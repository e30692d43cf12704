// Feeds arbitrary bytes to the verifier as a demo of each protocol: whatever the
// input, it must end without a crash, a hang, a leak or a read outside a buffer, read
// every byte, and give one verdict for an old demo and its conversion: an old demo it
// finds well-formed converts into a new demo it finds well-formed too, with as many
// records; one whose problem the conversion does not leave out (an operation cut by
// the end of its message, bytes after the end marker) converts into one it does not.
// The bytes, and each payload of their conversion, are also read as one payload both
// ways: the fast tally must take exactly what the careful walk finds well-formed and
// without a game state, and count the same.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "examine/new_reader.h"
#include "examine/new_records.h"
#include "tarnic/convert.h"
#include "tarnic/examine.h"
#include "transcode/server_op.h"

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

void checkTally(std::span<const std::uint8_t> payload) {
    PayloadTally tally;
    const bool fast = tallyWellFormedPayload(payload, tally);
    PayloadTally expected;
    bool gameState = false;
    const PayloadWalk careful = walkNewPayload(payload, [&](const NewOperation& operation) {
        gameState = gameState || operation.code == OP_GAMESTATE;
        if (operation.code < expected.operations.size()) ++expected.operations[operation.code];
        if (operation.code == OP_SNAPSHOT) {
            expected.mostEntities = std::max(expected.mostEntities, operation.entityNumbers.size());
        }
    });
    if (fast != (careful.wellFormed && !gameState)) {
        fail(fast ? "the tally takes a payload it must not" : "the tally gives up on a well-formed payload");
    }
    if (fast && (tally.operations != expected.operations || tally.mostEntities != expected.mostEntities)) {
        fail("the tally counts otherwise than the careful walk");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    checked(bytes, Protocol::New);
    const DemoReport old = checked(bytes, Protocol::Old);
    const ConvertedDemo converted = convertDemo(bytes);
    const DemoReport result = checked(converted.demo, Protocol::New);
    checkTally(bytes);
    for (const NewRecord& record : splitNewDemo(converted.demo).records) checkTally(record.payload);
    if (old.wellFormed()) {
        if (!result.wellFormed()) fail("a well-formed old demo converts into one with " + describe(result));
        if (result.facts.records != old.facts.records) fail("the conversion has a different number of records");
        return 0;
    }
    const ProblemKind kind = old.problem->kind;
    const bool leftOut = kind == ProblemKind::FieldPastEnd || kind == ProblemKind::DataAfterEnd;
    if (!leftOut && result.wellFormed()) fail("an old demo with " + describe(old) + " converts into a well-formed one");
    return 0;
}
