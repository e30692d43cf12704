#include "cli/examine_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "text/utf8.h"

namespace tarnic::cli {

namespace {

using examine::DemoFacts;
using examine::InfoTable;
using text::displayWidth;
using text::utf8SequenceAt;

constexpr std::size_t LABEL_WIDTH = 14;
constexpr std::uint8_t FIRST_UNKNOWN_CODE = 8;

std::string labelled(std::string_view label, const std::string& value) {
    std::string line = "  " + std::string(label);
    if (value.empty()) return line + "\n";
    line.append(LABEL_WIDTH - std::min(LABEL_WIDTH, label.size()), ' ');
    return line + value + "\n";
}

std::string padded(const std::string& text, std::size_t width) {
    return text + std::string(width - std::min(width, displayWidth(text)), ' ');
}

std::string plural(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string operationCounts(const DemoFacts& facts) {
    std::string text;
    const auto add = [&text](std::string_view name, std::uint64_t count) {
        if (count == 0) return;
        if (!text.empty()) text += ", ";
        text += std::string(name) + " " + std::to_string(count);
    };
    for (std::uint8_t code = 0; code < FIRST_UNKNOWN_CODE; ++code) add(operationName(code), facts.operations[code]);
    std::uint64_t unknown = 0;
    for (std::size_t code = FIRST_UNKNOWN_CODE; code < facts.operations.size(); ++code) unknown += facts.operations[code];
    add("unknown", unknown);
    return text.empty() ? "none" : text;
}

std::string infoTableText(const InfoTable& table) {
    std::string text = "  config string " + std::to_string(table.index) + "\n";
    std::size_t keyWidth = 0;
    for (const auto& [key, value] : table.pairs) keyWidth = std::max(keyWidth, displayWidth(printable(key)));
    for (const auto& [key, value] : table.pairs) text += "    " + padded(printable(key), keyWidth) + " = " + printable(value) + "\n";
    return text;
}

/// One row per player, one column per key any player has, in the order first met.
std::string playerTableText(const std::vector<InfoTable>& players) {
    std::vector<std::string> keys;
    for (const InfoTable& player : players) {
        for (const auto& pair : player.pairs) {
            if (std::find(keys.begin(), keys.end(), pair.first) == keys.end()) keys.push_back(pair.first);
        }
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"index"});
    for (const std::string& key : keys) rows.back().push_back(printable(key));
    for (const InfoTable& player : players) {
        std::vector<std::string>& row = rows.emplace_back();
        row.push_back(std::to_string(player.index));
        for (const std::string& key : keys) {
            const auto found = std::find_if(player.pairs.begin(), player.pairs.end(),
                                            [&key](const auto& pair) { return pair.first == key; });
            row.push_back(found == player.pairs.end() ? "-" : printable(found->second));
        }
    }
    std::vector<std::size_t> widths(keys.size() + 1, 0);
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], displayWidth(row[column]));
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line = "   ";
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += " " + (column + 1 < row.size() ? padded(row[column], widths[column]) : row[column]);
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace

std::string_view operationName(std::uint8_t code) {
    static constexpr std::string_view NAMES[FIRST_UNKNOWN_CODE] = {
        "bad", "nop", "game state", "configstring", "baseline", "server command", "download", "snapshot"};
    return code < FIRST_UNKNOWN_CODE ? NAMES[code] : "unknown";
}

std::string problemDescription(const examine::Problem& problem) {
    std::string text = "record " + std::to_string(problem.record);
    if (problem.hasSequence) text += " (sequence " + std::to_string(problem.sequence) + ")";
    if (problem.inPayload) {
        text += ", operation " + std::to_string(problem.operation) + " (code " + std::to_string(problem.code) + ", " +
                std::string(operationName(problem.code)) + ") at bit " + std::to_string(problem.bit);
    }
    return text + ": " + std::string(examine::problemText(problem.kind));
}

std::string verifyLine(const FileExamination& file) {
    if (!file.report) return printable(file.path) + ": error: " + printable(file.error) + "\n";
    const examine::DemoReport& report = *file.report;
    if (report.problem) return printable(file.path) + ": " + problemDescription(*report.problem) + "\n";
    std::string line = printable(file.path) + ": ok, " + plural(report.facts.records, "record");
    std::uint64_t diagnostics = 0;
    for (const auto& count : report.facts.diagnostics) diagnostics += count.count;
    if (diagnostics > 0) line += ", " + plural(diagnostics, "diagnostic") + " in conversion";
    return line + "\n";
}

std::string infoText(const FileExamination& file) {
    if (!file.report) return printable(file.path) + ": error: " + printable(file.error) + "\n";
    const examine::DemoReport& report = *file.report;
    const DemoFacts& facts = report.facts;
    std::string text = printable(file.path) + "\n";
    const bool old = report.protocol == examine::Protocol::Old;
    text += labelled("protocol", old ? "old (.dm3)" : "new (.dm_48)");
    text += labelled("size", plural(facts.bytes, "byte"));
    std::string records = std::to_string(facts.records);
    if (facts.records > 0) {
        records += ", sequences " + std::to_string(facts.lowestSequence) + " to " + std::to_string(facts.highestSequence);
    }
    text += labelled("records", records);
    text += labelled("operations", operationCounts(facts));
    std::string snapshots = std::to_string(facts.snapshotRecords) + " records";
    if (facts.snapshotRecords > 0) {
        snapshots += ", messageHead " + std::to_string(facts.lowestMessageHead) + " to " +
                     std::to_string(facts.highestMessageHead);
    }
    text += labelled("snapshots", snapshots);
    text += labelled("entities", "at most " + std::to_string(facts.mostEntities) + " in one snapshot");
    text += labelled("verdict", report.problem ? problemDescription(*report.problem) : "well-formed");
    for (const InfoTable& table : facts.infoStrings) text += infoTableText(table);
    text += labelled("players", facts.players.empty() ? "none" : std::to_string(facts.players.size()));
    if (!facts.players.empty()) text += playerTableText(facts.players);
    if (old) {
        text += labelled("diagnostics", facts.diagnostics.empty() ? "none" : "");
        for (const auto& count : facts.diagnostics) {
            text += "    " + std::to_string(count.count) + " x " + printable(count.kind) + "\n";
        }
    }
    return text;
}

std::string printable(std::string_view bytes) {
    std::string text;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = utf8SequenceAt(bytes, at);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
            ++at;
            continue;
        }
        text.append(bytes.substr(at, length));
        at += length;
    }
    return text;
}

}  // namespace tarnic::cli
