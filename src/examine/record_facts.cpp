#include "examine/record_facts.h"

#include <algorithm>
#include <optional>

#include "info/info_string.h"
#include "transcode/player_info.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

namespace {

/// An info string starts with its first key's backslash and holds a pair.
std::optional<InfoTable> infoTableOf(const ConfigEntry& entry) {
    if (entry.text.empty() || entry.text.front() != '\\') return std::nullopt;
    InfoTable table;
    table.index = entry.index;
    for (const auto& [key, value] : infoPairs(entry.text)) {
        const bool seen = std::any_of(table.pairs.begin(), table.pairs.end(),
                                      [key = key](const auto& pair) { return pair.first == key; });
        if (!seen) table.pairs.emplace_back(key, value);
    }
    if (table.pairs.empty()) return std::nullopt;
    return table;
}

void addGameState(DemoFacts& facts, const NewOperation& gameState) {
    if (facts.gameStateSeen) return;
    facts.gameStateSeen = true;
    for (const ConfigEntry& entry : gameState.configStrings) {
        std::optional<InfoTable> table = infoTableOf(entry);
        if (!table) continue;
        auto& tables = isPlayerInfoIndex(entry.index) ? facts.players : facts.infoStrings;
        tables.push_back(std::move(*table));
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void RecordFacts::addOperation(const NewOperation& operation) {
    ++facts_.operations[operation.code];
    if (operation.code == OP_SNAPSHOT) {
        snapshot_ = true;
        facts_.mostEntities = std::max(facts_.mostEntities, operation.entityNumbers.size());
    }
    if (operation.code == OP_GAMESTATE) addGameState(facts_, operation);
}

void RecordFacts::addTally(const PayloadTally& tally) {
    for (std::size_t code = 0; code < tally.operations.size(); ++code) {
        facts_.operations[code] += tally.operations[code];
    }
    if (tally.operations[OP_SNAPSHOT] == 0) return;
    snapshot_ = true;
    facts_.mostEntities = std::max(facts_.mostEntities, tally.mostEntities);
}

void RecordFacts::addRecord(std::int32_t sequence, std::uint32_t messageHead) {
    if (facts_.records == 0) facts_.lowestSequence = facts_.highestSequence = sequence;
    facts_.lowestSequence = std::min(facts_.lowestSequence, sequence);
    facts_.highestSequence = std::max(facts_.highestSequence, sequence);
    ++facts_.records;
    if (!snapshot_) return;
    if (facts_.snapshotRecords == 0) facts_.lowestMessageHead = facts_.highestMessageHead = messageHead;
    facts_.lowestMessageHead = std::min(facts_.lowestMessageHead, messageHead);
    facts_.highestMessageHead = std::max(facts_.highestMessageHead, messageHead);
    ++facts_.snapshotRecords;
}

PayloadWalk addRecordFacts(DemoFacts& facts, std::int32_t sequence, std::uint32_t messageHead,
                           std::span<const std::uint8_t> payload) {
    RecordFacts record(facts);
    // Most payloads are well-formed snapshots: read the fast way, and the careful way
    // only when that gives up, so that the verdict and the facts are the careful walk's.
    PayloadTally tally;
    if (tallyWellFormedPayload(payload, tally)) {
        record.addTally(tally);
        record.addRecord(sequence, messageHead);
        PayloadWalk walk;
        for (const std::uint64_t count : tally.operations) walk.operations += count;
        return walk;
    }
    const PayloadWalk walk =
        walkNewPayload(payload, [&record](const NewOperation& operation) { record.addOperation(operation); });
    record.addRecord(sequence, messageHead);
    return walk;
}

void addDiagnostic(DemoFacts& facts, std::string_view text) {
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::string kind;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (!isDigit(text[at])) {
            kind += text[at];
            continue;
        }
        kind += 'N';
        while (at + 1 < text.size() && isDigit(text[at + 1])) ++at;
    }
    const auto known = std::find_if(facts.diagnostics.begin(), facts.diagnostics.end(),
                                    [&kind](const DiagnosticCount& count) { return count.kind == kind; });
    if (known != facts.diagnostics.end()) {
        ++known->count;
    } else {
        facts.diagnostics.push_back({std::move(kind), 1});
    }
}

}  // namespace tarnic::examine
