#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/record_loop.h"
#include "support/byte_sources.h"
#include "support/demo_file.h"
#include "tarnic/byte_stream.h"
#include "tarnic/console.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

using test::appendEndMarker;
using test::appendLittle32;
using test::appendRecord;
using test::Bytes;
using test::CopyingSource;
using test::FailingSource;
using test::hexText;

Bytes endMarkerBytes() { return Bytes(8, 0xFF); }

/// An output record as the converter frames it, with no snapshot having set the head.
Bytes newRecord(std::int32_t sequence, const Bytes& payload, std::uint32_t messageHead = 0) {
    Bytes bytes;
    appendLittle32(bytes, std::uint32_t(sequence));
    appendLittle32(bytes, std::uint32_t(payload.size() + 4));
    appendLittle32(bytes, messageHead);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct DemoCase {
    const char* name;
    Bytes input;
    Bytes expectedDemo;
    std::string expectedConsole;
};

Bytes demoOf(std::initializer_list<std::pair<std::int32_t, Bytes>> records, bool endMarker, std::uint32_t markerLength = 0) {
    Bytes demo;
    for (const auto& [sequence, payload] : records) appendRecord(demo, sequence, payload);
    if (endMarker) appendEndMarker(demo, markerLength);
    return demo;
}

std::vector<DemoCase> framingCases() {
    Bytes truncatedLength = demoOf({{1, {0x01}}}, false);
    appendLittle32(truncatedLength, 2);
    truncatedLength.push_back(0x10);  // only one byte of the next length field

    Bytes cutPayload = demoOf({{1, {0x01}}}, false);
    appendLittle32(cutPayload, 2);
    appendLittle32(cutPayload, 10);
    cutPayload.insert(cutPayload.end(), {0x01, 0x01, 0x01});

    Bytes hugeLength = demoOf({{1, {0x01}}}, false);
    appendLittle32(hugeLength, 2);
    appendLittle32(hugeLength, 0x7FFFFFF0u);
    hugeLength.insert(hugeLength.end(), {0x01, 0x01});

    Bytes negativeLength = demoOf({{1, {0x01}}}, false);
    appendLittle32(negativeLength, 2);
    appendLittle32(negativeLength, 0xFFFFFFFEu);
    negativeLength.insert(negativeLength.end(), {0x01, 0x01});
    appendEndMarker(negativeLength);

    Bytes markerWithoutLength;
    appendLittle32(markerWithoutLength, 0xFFFFFFFFu);
    markerWithoutLength.push_back(0);

    Bytes trailingAfterMarker = demoOf({{4, {0x01}}}, true);
    appendRecord(trailingAfterMarker, 5, {0x01});

    return {
        {"three zero bytes are three reported bad codes",
         demoOf({{5, {0x00, 0x00, 0x00}}}, true),
         concat({newRecord(5, {0x00, 0x00, 0x00}), endMarkerBytes()}),
         "Bad server command.\nBad server command.\nBad server command.\n"},
        {"codes without a body are reported in order and copied",
         demoOf({{7, {0x01, 0x03, 0x09}}}, true),
         concat({newRecord(7, {0x01, 0x03, 0x09}), endMarkerBytes()}),
         "NOP server command.\nConfigstring - illegal server command.\nUnknown server command.\n"},
        {"every code without a body has its message",
         demoOf({{1, {0x04, 0x06, 0xFF}}}, true),
         concat({newRecord(1, {0x04, 0x06, 0xFF}), endMarkerBytes()}),
         "Baseline - illegal server command.\nDownload - illegal server command.\nUnknown server command.\n"},
        {"a record of length 0 holds only the head",
         demoOf({{9, {}}}, true), concat({newRecord(9, {}), endMarkerBytes()}), ""},
        {"the end marker's length is not used", demoOf({}, true, 1234), endMarkerBytes(), ""},
        {"an end marker cut inside its length still ends the demo", markerWithoutLength, endMarkerBytes(), ""},
        {"an empty file gives an empty file", {}, {}, ""},
        {"no end marker: the records and nothing after them",
         demoOf({{1, {0x01}}, {2, {0x01}}}, false),
         concat({newRecord(1, {0x01}), newRecord(2, {0x01})}), "NOP server command.\nNOP server command.\n"},
        {"a header cut short ends the demo without a record",
         truncatedLength, newRecord(1, {0x01}), "NOP server command.\n"},
        {"nothing after the end marker is read",
         trailingAfterMarker, concat({newRecord(4, {0x01}), endMarkerBytes()}), "NOP server command.\n"},
        {"sequence numbers are copied whatever their order",
         demoOf({{30, {}}, {-5, {}}, {30, {}}}, true),
         concat({newRecord(30, {}), newRecord(-5, {}), newRecord(30, {}), endMarkerBytes()}), ""},
        {"a payload cut short by the end of the file is dropped",
         cutPayload, newRecord(1, {0x01}),
         "NOP server command.\nWARNING: last record (sequence 2) is cut short; dropped\n"},
        {"a length beyond the file is a cut-short record, not an allocation",
         hugeLength, newRecord(1, {0x01}),
         "NOP server command.\nWARNING: last record (sequence 2) is cut short; dropped\n"},
        {"a negative length ends the conversion",
         negativeLength, newRecord(1, {0x01}),
         "NOP server command.\nWARNING: record (sequence 2) has a negative length; conversion stopped\n"},
    };
}

TEST(RecordLoop, FramesRecordsAndEndMarkerExactly) {
    for (const auto& c : framingCases()) {
        const ConvertedDemo converted = convertDemo(c.input);
        EXPECT_EQ(hexText(converted.demo), hexText(c.expectedDemo)) << c.name;
        EXPECT_EQ(converted.console, c.expectedConsole) << c.name;
    }
}

// The in-memory conversion borrows payloads in place, a file mostly from its buffer;
// a source that cannot lend them has them copied. Both must frame, convert and report
// every case alike.
TEST(RecordLoop, BorrowedAndCopiedPayloadsConvertAlike) {
    for (const auto& c : framingCases()) {
        Bytes copiedDemo;
        MemorySink sink(copiedDemo);
        CopyingSource source(c.input);
        CollectingConsole console;
        EXPECT_EQ(convertRecords(source, sink, console), ConversionResult::Converted) << c.name;
        EXPECT_EQ(hexText(copiedDemo), hexText(c.expectedDemo)) << c.name;
        EXPECT_EQ(console.text(), c.expectedConsole) << c.name;
    }
}

TEST(RecordLoop, AReadErrorAnywhereIsReportedNeverTakenForTheEnd) {
    const Bytes input = demoOf({{1, {0x09}}, {2, {0x09, 0x09}}}, true);
    for (std::size_t good = 0; good < input.size(); ++good) {
        Bytes output;
        MemorySink sink(output);
        FailingSource source(input, good);
        CollectingConsole console;
        EXPECT_EQ(convertRecords(source, sink, console), ConversionResult::InputFailed) << "after byte " << good;
        EXPECT_EQ(console.text().find("cut short"), std::string::npos) << "after byte " << good;
    }
}

TEST(RecordLoop, EveryByteOfABodylessPayloadIsOneCopiedCode) {
    const Bytes payload(300, 0x01);
    const ConvertedDemo converted = convertDemo(demoOf({{3, payload}}, true));
    const test::NewDemo demo = test::splitNewDemo(converted.demo);
    ASSERT_EQ(demo.records.size(), 1u);
    EXPECT_EQ(demo.records[0].payload, payload);
    EXPECT_TRUE(demo.endMarker);
    EXPECT_TRUE(demo.wellFramed);
}

TEST(RecordLoop, EachConversionStartsFromZero) {
    const Bytes input = demoOf({{1, {0x01, 0x09}}, {2, {}}}, true);
    const ConvertedDemo first = convertDemo(input);
    const ConvertedDemo second = convertDemo(input);
    EXPECT_EQ(first.demo, second.demo);
    EXPECT_EQ(first.console, second.console);
}

TEST(RecordLoop, AReusedResultHoldsOnlyTheLatestConversion) {
    const Bytes longer = demoOf({{1, Bytes(500, 0x01)}}, true);
    const Bytes shorter = demoOf({{2, {0x09}}}, false);
    ConvertedDemo reused;
    convertDemo(longer, reused);
    convertDemo(shorter, reused);
    const ConvertedDemo fresh = convertDemo(shorter);
    EXPECT_EQ(hexText(reused.demo), hexText(fresh.demo));
    EXPECT_EQ(reused.console, fresh.console);
}

}  // namespace
}  // namespace tarnic
