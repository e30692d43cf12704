#include "tarnic/report_json.h"

#include "text/json_writer.h"

namespace tarnic::examine {

namespace {

using text::JsonWriter;

constexpr std::uint8_t FIRST_UNKNOWN_CODE = 8;

void writeProblem(JsonWriter& json, const Problem& problem) {
    json.beginObject();
    json.key("kind").string(problemName(problem.kind));
    json.key("text").string(problemText(problem.kind));
    json.key("record").number(std::uint64_t{problem.record});
    json.key("sequence");
    problem.hasSequence ? json.number(std::int64_t{problem.sequence}) : json.null();
    if (problem.inPayload) {
        json.key("operation").number(std::uint64_t{problem.operation});
        json.key("code").number(std::uint64_t{problem.code});
        json.key("bit").number(std::uint64_t{problem.bit});
    } else {
        json.key("operation").null();
        json.key("code").null();
        json.key("bit").null();
    }
    json.endObject();
}

void writeOperations(JsonWriter& json, const DemoFacts& facts) {
    static constexpr const char* NAMES[FIRST_UNKNOWN_CODE] = {
        "bad", "nop", "gameState", "configString", "baseline", "serverCommand", "download", "snapshot"};
    json.beginObject();
    for (std::uint8_t code = 0; code < FIRST_UNKNOWN_CODE; ++code) json.key(NAMES[code]).number(facts.operations[code]);
    std::uint64_t unknown = 0;
    for (std::size_t code = FIRST_UNKNOWN_CODE; code < facts.operations.size(); ++code) unknown += facts.operations[code];
    json.key("unknown").number(unknown);
    json.endObject();
}

void writeTables(JsonWriter& json, const std::vector<InfoTable>& tables) {
    json.beginArray();
    for (const InfoTable& table : tables) {
        json.beginObject();
        json.key("index").number(std::uint64_t{table.index});
        json.key("values").beginObject();
        for (const auto& [key, value] : table.pairs) json.key(key).string(value);
        json.endObject();
        json.endObject();
    }
    json.endArray();
}

/// A range, or null when nothing was counted.
template <typename Value>
void writeRange(JsonWriter& json, bool any, Value lowest, Value highest) {
    if (!any) {
        json.null();
        return;
    }
    json.beginObject();
    json.key("lowest").number(lowest);
    json.key("highest").number(highest);
    json.endObject();
}

void writeFacts(JsonWriter& json, const DemoReport& report) {
    const DemoFacts& facts = report.facts;
    json.key("size").number(facts.bytes);
    json.key("sequences");
    writeRange(json, facts.records > 0, std::int64_t{facts.lowestSequence}, std::int64_t{facts.highestSequence});
    json.key("operations");
    writeOperations(json, facts);
    json.key("snapshotRecords").number(facts.snapshotRecords);
    json.key("messageHeads");
    writeRange(json, facts.snapshotRecords > 0, std::uint64_t{facts.lowestMessageHead},
               std::uint64_t{facts.highestMessageHead});
    json.key("mostEntities").number(std::uint64_t{facts.mostEntities});
    json.key("infoStrings");
    writeTables(json, facts.infoStrings);
    json.key("players");
    writeTables(json, facts.players);
    json.key("diagnostics").beginArray();
    for (const auto& count : facts.diagnostics) {
        json.beginObject();
        json.key("kind").string(count.kind);
        json.key("count").number(count.count);
        json.endObject();
    }
    json.endArray();
}

void writeDemo(JsonWriter& json, const ExaminedDemo& demo, bool withFacts) {
    json.beginObject();
    json.key("file");
    demo.file ? json.string(*demo.file) : json.null();
    json.key("protocol");
    if (demo.protocol) {
        json.string(*demo.protocol == Protocol::Old ? "old" : "new");
    } else {
        json.null();
    }
    json.key("error");
    demo.report ? json.null() : json.string(demo.error);
    const DemoReport* report = demo.report;
    json.key("wellFormed").boolean(report && report->wellFormed());
    json.key("records");
    report ? json.number(report->facts.records) : json.null();
    json.key("problem");
    if (report && report->problem) {
        writeProblem(json, *report->problem);
    } else {
        json.null();
    }
    if (withFacts && report) writeFacts(json, *report);
    json.endObject();
}

}  // namespace

std::string examinedDemoJson(const ExaminedDemo& demo, bool withFacts) {
    JsonWriter json;
    writeDemo(json, demo, withFacts);
    return json.finish();
}

std::string examinedDemosJson(std::span<const ExaminedDemo> demos, bool withFacts) {
    JsonWriter json;
    json.beginArray();
    for (const ExaminedDemo& demo : demos) writeDemo(json, demo, withFacts);
    json.endArray();
    return json.finish();
}

}  // namespace tarnic::examine
