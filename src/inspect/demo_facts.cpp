#include "inspect/demo_facts.h"

#include <algorithm>
#include <optional>

#include "info/info_string.h"
#include "transcode/player_info.h"
#include "transcode/server_op.h"

namespace tarnic::inspect {

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

void addRecordFacts(DemoFacts& facts, std::int32_t sequence, std::uint32_t messageHead, const NewPayload& payload) {
    if (facts.records == 0) facts.lowestSequence = facts.highestSequence = sequence;
    facts.lowestSequence = std::min(facts.lowestSequence, sequence);
    facts.highestSequence = std::max(facts.highestSequence, sequence);
    ++facts.records;
    bool snapshot = false;
    for (const NewOperation& operation : payload.operations) {
        ++facts.operations[operation.code];
        if (operation.code == OP_SNAPSHOT) {
            snapshot = true;
            facts.mostEntities = std::max(facts.mostEntities, operation.entityNumbers.size());
        }
        if (operation.code == OP_GAMESTATE) addGameState(facts, operation);
    }
    if (!snapshot) return;
    if (facts.snapshotRecords == 0) facts.lowestMessageHead = facts.highestMessageHead = messageHead;
    facts.lowestMessageHead = std::min(facts.lowestMessageHead, messageHead);
    facts.highestMessageHead = std::max(facts.highestMessageHead, messageHead);
    ++facts.snapshotRecords;
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

}  // namespace tarnic::inspect
