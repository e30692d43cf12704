// Well-formed in, well-formed out. The fuzz bytes describe a well-formed old demo
// (demo_edits.h); the converted demo must have the same records, every payload
// well-formed with the same operations, and an empty console. Any mismatch aborts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "demo_edits.h"
#include "demokit/old_encoder.h"
#include "examine/new_reader.h"
#include "examine/new_records.h"
#include "tarnic/convert.h"
#include "transcode/config_index.h"
#include "transcode/server_op.h"

namespace {

using namespace tarnic;
using namespace tarnic::demokit;
using namespace tarnic::examine;

[[noreturn]] void fail(const std::string& problem) {
    std::fprintf(stderr, "well_formed_fuzzer: %s\n", problem.c_str());
    std::abort();
}

[[noreturn]] void fail(std::size_t record, const std::string& problem) {
    fail("record " + std::to_string(record) + ": " + problem);
}

std::uint8_t codeOf(const Operation& operation) {
    if (std::holds_alternative<ServerCommand>(operation)) return OP_SERVERCOMMAND;
    if (std::holds_alternative<GameState>(operation)) return OP_GAMESTATE;
    return OP_SNAPSHOT;
}

/// One operation against its old model; a snapshot sets `messageHead`.
void checkOperation(std::size_t r, const Operation& old, const NewOperation& converted, std::uint32_t& messageHead) {
    if (converted.code != codeOf(old)) {
        fail(r, "operation code " + std::to_string(converted.code) + " for " + std::to_string(codeOf(old)));
    }
    if (const auto* command = std::get_if<ServerCommand>(&old)) {
        if (converted.leading != command->leading) fail(r, "server command leading value");
    } else if (const auto* gameState = std::get_if<GameState>(&old)) {
        std::vector<std::uint16_t> baselines;
        std::size_t kept = 0;
        for (const GameStateEntry& entry : gameState->entries) {
            if (const auto* baseline = std::get_if<Baseline>(&entry)) baselines.push_back(baseline->number);
            if (const auto* config = std::get_if<ConfigString>(&entry)) kept += remapConfigIndex(config->index) ? 1 : 0;
        }
        if (converted.leading != gameState->leading) fail(r, "game state leading value");
        if (converted.baselines != baselines) fail(r, "game state baselines");
        if (converted.configStrings.size() != kept) fail(r, "game state configuration strings");
    } else if (const auto* snapshot = std::get_if<Snapshot>(&old)) {
        std::vector<std::uint16_t> numbers;
        for (const EntityEntry& entry : snapshot->entities) numbers.push_back(entry.number);
        if (converted.entityNumbers != numbers) fail(r, "snapshot entity list");
        messageHead = snapshot->messageHead;
    }
}

void checkConverted(const Demo& old, const ConvertedDemo& converted) {
    if (!converted.console.empty()) fail("diagnostics printed:\n" + converted.console);
    const NewDemo demo = splitNewDemo(converted.demo);
    if (!demo.wellFramed) fail("the converted demo is not made of whole records");
    if (demo.endMarker != old.endMarker) fail("end marker");
    if (demo.records.size() != old.records.size()) {
        fail(std::to_string(demo.records.size()) + " records for " + std::to_string(old.records.size()));
    }
    std::uint32_t messageHead = 0;
    for (std::size_t r = 0; r < old.records.size(); ++r) {
        const NewRecord& record = demo.records[r];
        const auto& operations = old.records[r].message.operations;
        if (record.sequence != old.records[r].sequence) fail(r, "sequence " + std::to_string(record.sequence));
        const NewPayload payload = readNewPayload(record.payload);
        if (payload.problem) fail(r, std::string(problemName(payload.problem->kind)) + " at bit " + std::to_string(payload.problem->bit));
        if (payload.operations.size() != operations.size()) {
            fail(r, std::to_string(payload.operations.size()) + " operations for " + std::to_string(operations.size()));
        }
        for (std::size_t k = 0; k < operations.size(); ++k) {
            checkOperation(r, operations[k], payload.operations[k], messageHead);
        }
        if (record.messageHead != messageHead) fail(r, "messageHead " + std::to_string(record.messageHead));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Demo demo = fuzz::wellFormedDemo({data, size});
    checkConverted(demo, convertDemo(encodeDemo(demo)));
    return 0;
}
