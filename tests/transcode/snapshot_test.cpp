#include "transcode/snapshot.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "demokit/field_tables.h"
#include "support/demo_file.h"
#include "tarnic/convert.h"
#include "transcode/masked_array.h"

namespace tarnic {
namespace {

using test::Bytes;

/// Bit fields as (value, width), in stream order.
using Bits = std::vector<std::pair<std::uint32_t, int>>;

Bits operator+(Bits first, const Bits& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bits zeros(int count) { return Bits(std::size_t(count), {0, 1}); }

Bits maskedArray(std::uint32_t mask, const std::vector<std::uint32_t>& values, int width = 16) {
    Bits bits{{1, 1}, {mask, 16}};
    for (const std::uint32_t value : values) bits.push_back({value, width});
    return bits;
}

PacketWriter written(const Bits& bits) {
    PacketWriter writer;
    for (const auto& [value, width] : bits) pktWriteBits(writer, std::int32_t(value), width);
    return writer;
}

constexpr std::uint32_t HEAD = 0x89ABCDEF;
const Bits ABSENT = {{0, 1}};
const Bits NEW_ONLY_FIELDS = {{1, 1}, {0, 10}, {1, 1}, {0, 16}, {1, 1}, {0, 8}};
const Bits LIST_END = {{1023, 10}};

/// What a test varies in a snapshot, in one protocol's form.
struct Parts {
    Bits fields = zeros(45);  ///< player-state fields 1 to 45
    Bits arrays = zeros(4);   ///< masked arrays 1 to 4
    Bytes block;              ///< the counted byte block
};

/// Header fields 2 to 5, alike in both protocols.
Bits headerRest(const Bytes& block) {
    Bits bits{{0x01234567, 32}, {0x5A, 8}, {0xA5, 8}, {std::uint32_t(block.size()), 8}};
    for (const std::uint8_t byte : block) bits.push_back({byte, 8});
    return bits;
}

Bits oldSnapshot(const Parts& parts, std::uint32_t head = HEAD) {
    return Bits{{head, 32}} + headerRest(parts.block) + parts.fields + parts.arrays + LIST_END;
}

Bits newSnapshot(const Parts& parts) {
    return headerRest(parts.block) + parts.fields + NEW_ONLY_FIELDS + parts.arrays + LIST_END;
}

/// Converts one old snapshot, which must be read exactly, and compares the output bit for bit.
void expectConverted(SnapshotState& state, const Bits& old, const Bits& expected, const std::string& context) {
    const Bytes input = test::bytesOf(written(old));
    PacketReader reader{input.data(), std::uint32_t(input.size())};
    PacketWriter output;
    transcodeSnapshot(reader, output, state);
    EXPECT_EQ(reader.bytePos * 8 + reader.bitOffset, test::bitLengthOf(written(old))) << context << ": bits read";
    const PacketWriter wanted = written(expected);
    EXPECT_EQ(test::bitText(test::bytesOf(output), test::bitLengthOf(output)),
              test::bitText(test::bytesOf(wanted), test::bitLengthOf(wanted)))
        << context;
}

TEST(Snapshot, SmallestSnapshotIs147BitsIn152OutAndItsHeadMovesToTheState) {
    SnapshotState state;
    ASSERT_EQ(test::bitLengthOf(written(oldSnapshot({}))), 147u);
    // No head; 45 absent fields, the 37 bits of fields 46 to 48, four absent arrays.
    const Bits expected = headerRest({}) + zeros(45) + NEW_ONLY_FIELDS + zeros(4) + LIST_END;
    ASSERT_EQ(test::bitLengthOf(written(expected)), 152u);
    expectConverted(state, oldSnapshot({}), expected, "smallest");
    EXPECT_EQ(state.messageHead, HEAD);
}

TEST(Snapshot, CountedByteBlockAndArraysOneThreeFourAreCopied) {
    for (const std::size_t count : {0u, 1u, 3u, 4u, 7u, 255u}) {
        Parts parts;
        for (std::size_t i = 0; i < count; ++i) parts.block.push_back(std::uint8_t(0xFF - i));
        parts.arrays = maskedArray(0x8001, {0xFFFF, 0x1234}) + ABSENT +
                       maskedArray(0xFFFF, std::vector<std::uint32_t>(16, 0xA5A5)) +
                       maskedArray(0x0102, {0xFFFFFFFF, 0x80000001}, 32);
        SnapshotState state;
        expectConverted(state, oldSnapshot(parts), newSnapshot(parts), "count " + std::to_string(count));
    }
}


TEST(Snapshot, EachPlayerStateFieldIsConvertedAtItsWidth) {
    Parts allOld, allNew;
    allOld.fields = allNew.fields = {};
    for (int field = 1; field <= 45; ++field) {
        // Widths from the test kit's own table, written apart from the converter's.
        const FieldRow& row = demokit::PLAYER_FIELDS[std::size_t(field - 1)];
        const int width = row.oldWidth;
        std::vector<std::pair<Bits, Bits>> forms;  // (old, new) of the present field
        if (row.form == FieldForm::Packed) {
            forms.push_back({{{1, 1}, {0, 1}, {0x1FFF, 13}}, {{1, 1}, {0, 1}, {0x1FFF, 13}}});
            forms.push_back({{{1, 1}, {1, 1}, {0xFFFFFFFF, 32}}, {{1, 1}, {1, 1}, {0xFFFFFFFF, 32}}});
        } else if (row.form == FieldForm::Event) {
            // Event 63 becomes 74; field 30 alone is widened to 10 bits.
            forms.push_back({{{1, 1}, {63, width}}, {{1, 1}, {74, row.newWidth}}});
        } else {
            const std::uint32_t ones = 0xFFFFFFFFu >> (32 - width);
            forms.push_back({{{1, 1}, {ones, width}}, {{1, 1}, {ones, width}}});
        }
        for (const auto& [oldField, newField] : forms) {
            Parts oldParts, newParts;
            oldParts.fields = zeros(field - 1) + oldField + zeros(45 - field);
            newParts.fields = zeros(field - 1) + newField + zeros(45 - field);
            SnapshotState state;
            expectConverted(state, oldSnapshot(oldParts), newSnapshot(newParts), "field " + std::to_string(field));
        }
        allOld.fields = allOld.fields + forms.back().first;
        allNew.fields = allNew.fields + forms.back().second;
    }
    SnapshotState state;
    expectConverted(state, oldSnapshot(allOld), newSnapshot(allNew), "all fields present");
}

TEST(Snapshot, EventFieldsAreRenumberedOverTheirWholeRange) {
    // (old, new) event values: below, at and above the events the new protocol inserts,
    // the last one renumbered and the values beyond it, which stay as they are.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> events = {
        {0, 0}, {46, 46}, {47, 48}, {50, 51}, {51, 53}, {62, 64}, {64, 76}, {65, 65}, {128, 128}, {255, 255},
    };
    for (const int field : {26, 27, 30}) {
        const FieldRow& row = demokit::PLAYER_FIELDS[std::size_t(field - 1)];
        for (const auto& [oldEvent, newEvent] : events) {
            Parts oldParts, newParts;
            // A packed value and field 25 ahead of it, so that the event lies at an
            // offset no other case has.
            oldParts.fields = newParts.fields = zeros(45);
            oldParts.fields[5] = newParts.fields[5] = {1 | 0x1555 << 2, 15};
            oldParts.fields[24] = newParts.fields[24] = {1 | 0xBEEF << 1, 17};
            oldParts.fields[std::size_t(field - 1)] = {1 | oldEvent << 1, 1 + row.oldWidth};
            newParts.fields[std::size_t(field - 1)] = {1 | newEvent << 1, 1 + row.newWidth};
            SnapshotState state;
            expectConverted(state, oldSnapshot(oldParts), newSnapshot(newParts),
                            "field " + std::to_string(field) + ", event " + std::to_string(oldEvent));
        }
    }
}

TEST(Snapshot, ArrayTwoIsSentAsTheEntriesChangedSinceTheLastSnapshot) {
    struct Case {
        std::string name;
        std::vector<std::pair<Bits, Bits>> steps;                     ///< (old, new) array 2 per snapshot
        std::vector<std::pair<std::size_t, std::int32_t>> received;  ///< nonzero entries stored at the end
    };
    const std::vector<Case> cases = {
        {"old 0 received as 0", {{maskedArray(0x0001, {0}), ABSENT}}, {}},
        {"old 7 moves to 6", {{maskedArray(0x0080, {9}), maskedArray(0x0040, {9})}}, {{7, 9}}},
        {"old 11 moves to 13", {{maskedArray(0x0800, {5}), maskedArray(0x2000, {5})}}, {{11, 5}}},
        {"old 0 and 7, in order", {{maskedArray(0x0081, {3, 9}), maskedArray(0x0041, {3, 9})}}, {{0, 3}, {7, 9}}},
        {"unsent entries are stored only",
         {{maskedArray(0xF400, {1, 2, 3, 4, 5}), ABSENT}, {maskedArray(0x0060, {6, 7}), ABSENT}},
         {{5, 6}, {6, 7}, {10, 1}, {12, 2}, {13, 3}, {14, 4}, {15, 5}}},
        {"same value again",
         {{maskedArray(0x0001, {4}), maskedArray(0x0001, {4})}, {maskedArray(0x0001, {4}), ABSENT}},
         {{0, 4}}},
        {"absent after a change",
         {{maskedArray(0x0200, {0xFFFF}), maskedArray(0x0200, {0xFFFF})}, {ABSENT, ABSENT}},
         {{9, 0xFFFF}}},
        {"back to 0",
         {{maskedArray(0x0010, {8}), maskedArray(0x0010, {8})},
          {maskedArray(0x0010, {0}), maskedArray(0x0010, {0})}},
         {}},
        {"every entry",
         {{maskedArray(0xFFFF, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
           maskedArray(0x235F, {1, 2, 3, 4, 5, 8, 9, 10, 12})}},
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8},
          {8, 9}, {9, 10}, {10, 11}, {11, 12}, {12, 13}, {13, 14}, {14, 15}, {15, 16}}},
        {"every entry, high bits set",
         {{maskedArray(0xFFFF, {0xFFFF, 0x8001, 0xC003, 0xE007, 0xF00F, 0x1234, 0x4321, 0xFEDC, 0x8421, 0xBEEF,
                                0x0F0F, 0xA5A5, 0x5A5A, 0x7FFE, 0x9999, 0x6666}),
           maskedArray(0x235F, {0xFFFF, 0x8001, 0xC003, 0xE007, 0xF00F, 0xFEDC, 0x8421, 0xBEEF, 0xA5A5})}},
         {{0, 0xFFFF}, {1, 0x8001}, {2, 0xC003}, {3, 0xE007}, {4, 0xF00F}, {5, 0x1234}, {6, 0x4321}, {7, 0xFEDC},
          {8, 0x8421}, {9, 0xBEEF}, {10, 0x0F0F}, {11, 0xA5A5}, {12, 0x5A5A}, {13, 0x7FFE}, {14, 0x9999},
          {15, 0x6666}}},
    };
    // Present 8-bit fields ahead of the arrays, 9 bits each, put them at every bit
    // offset of a byte: the values are gathered and written whole words at a time.
    constexpr std::array<int, 7> EIGHT_BIT_FIELDS = {38, 39, 40, 41, 42, 31, 32};
    for (const Case& row : cases) {
        for (std::size_t lead = 0; lead <= EIGHT_BIT_FIELDS.size(); ++lead) {
            const std::string name = row.name + ", " + std::to_string(lead) + " fields ahead";
            Bits fields = zeros(45);
            for (std::size_t field = 0; field < lead; ++field) {
                fields[std::size_t(EIGHT_BIT_FIELDS[field] - 1)] = {1 | 0x5A << 1, 9};
            }
            SnapshotState state;
            for (std::size_t step = 0; step < row.steps.size(); ++step) {
                Parts oldParts, newParts;
                oldParts.fields = newParts.fields = fields;
                oldParts.arrays = ABSENT + row.steps[step].first + zeros(2);
                newParts.arrays = ABSENT + row.steps[step].second + zeros(2);
                expectConverted(state, oldSnapshot(oldParts), newSnapshot(newParts),
                                name + ", snapshot " + std::to_string(step + 1));
            }
            std::array<std::int32_t, 16> received{};
            for (const auto& [entry, value] : row.received) received[entry] = value;
            EXPECT_EQ(state.receivedValues, received) << name;
            EXPECT_EQ(state.sentValues, state.remappedValues) << name;
        }
    }
}

TEST(Snapshot, ArrayTwoCutByTheEndOfThePayloadLeavesTheStateAlone) {
    SnapshotState state;
    state.receivedValues[0] = state.remappedValues[0] = state.sentValues[0] = 4;
    const SnapshotState before = state;
    // The mask announces old entry 0, but the payload ends before its value.
    const Bits old = Bits{{HEAD, 32}} + headerRest({}) + zeros(46) + Bits{{1, 1}, {1, 16}};
    const Bytes input = test::bytesOf(written(old));
    PacketReader reader{input.data(), std::uint32_t(input.size())};
    PacketWriter output;
    transcodeSnapshot(reader, output, state);
    EXPECT_TRUE(reader.pastEnd);
    EXPECT_EQ(state.receivedValues, before.receivedValues);
    EXPECT_EQ(state.sentValues, before.sentValues);
}

// Where the payload goes on far enough behind them, the player-state fields and the
// values of masked array 2 are read without checking each read against its end: the
// conversion, and the forecast of the state, must read the same however far the end lies.
TEST(Snapshot, ReadsTheSameHoweverFarThePayloadGoesOn) {
    Parts none, widest, everyOther;
    widest.fields = everyOther.fields = {};
    for (std::size_t field = 0; field < 45; ++field) {
        const FieldRow& row = demokit::PLAYER_FIELDS[field];
        const Bits atWidest = row.form == FieldForm::Packed
                                  ? Bits{{1, 1}, {1, 1}, {0xFFFFFFFF, 32}}
                                  : Bits{{1, 1}, {0xFFFFFFFFu >> (32 - row.oldWidth), row.oldWidth}};
        widest.fields = widest.fields + atWidest;
        everyOther.fields = everyOther.fields + (field % 2 == 0 ? atWidest : ABSENT);
    }
    none.arrays = ABSENT + maskedArray(0x0881, {3, 9, 5}) + zeros(2);
    widest.arrays = ABSENT + maskedArray(0xFFFF, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) + zeros(2);
    everyOther.arrays = maskedArray(0x0003, {1, 2}) + maskedArray(0x8421, {4, 5, 6, 7}) + zeros(2);
    std::vector<std::pair<std::string, Parts>> variants = {
        {"no field", none}, {"every field at its widest", widest}, {"every other field", everyOther}};
    // Every field at its widest but some of fields 18, 23 and 33 (10, 4 and 5 bits), so
    // that the fields behind them lie at every bit offset of a byte.
    constexpr std::array<std::size_t, 3> NARROW_FIELDS = {18, 23, 33};
    for (unsigned absent = 1; absent < 8; ++absent) {
        Parts parts = widest;
        parts.fields = {};
        std::string name = "widest but";
        for (std::size_t field = 0; field < 45; ++field) {
            const FieldRow& row = demokit::PLAYER_FIELDS[field];
            bool left = false;
            for (std::size_t narrow = 0; narrow < NARROW_FIELDS.size(); ++narrow) {
                left = left || ((absent >> narrow & 1) && field + 1 == NARROW_FIELDS[narrow]);
            }
            if (left) {
                parts.fields = parts.fields + ABSENT;
                name += " " + std::to_string(field + 1);
            } else if (row.form == FieldForm::Packed) {
                parts.fields = parts.fields + Bits{{1, 1}, {1, 1}, {0xFFFFFFFF, 32}};
            } else {
                parts.fields = parts.fields + Bits{{1, 1}, {0xFFFFFFFFu >> (32 - row.oldWidth), row.oldWidth}};
            }
        }
        variants.push_back({name, parts});
    }
    SnapshotState start;
    start.receivedValues[7] = 2;
    remapReceivedValues(start);
    for (const auto& [name, parts] : variants) {
        const PacketWriter snapshot = written(oldSnapshot(parts));
        std::string wanted;
        SnapshotState wantedState;
        for (std::size_t behind = 0; behind <= 200; ++behind) {
            const std::string context = std::string(name) + ", " + std::to_string(behind) + " bytes behind";
            Bytes input = test::bytesOf(snapshot);
            input.resize(input.size() + behind, 0xA5);
            SnapshotState state = start;
            PacketReader reader{input.data(), std::uint32_t(input.size())};
            PacketWriter output;
            transcodeSnapshot(reader, output, state);
            EXPECT_EQ(reader.bytePos * 8 + reader.bitOffset, test::bitLengthOf(snapshot)) << context;
            SnapshotState forecast = start;
            PacketReader forecastReader{input.data(), std::uint32_t(input.size())};
            forecastSnapshot(forecastReader, forecast);
            remapReceivedValues(forecast);
            EXPECT_TRUE(forecast == state) << context << ": forecast";
            const std::string converted = test::bitText(test::bytesOf(output), test::bitLengthOf(output));
            if (behind == 0) {
                wanted = converted;
                wantedState = state;
            }
            EXPECT_EQ(converted, wanted) << context;
            EXPECT_TRUE(state == wantedState) << context;
        }
    }
}

Bytes message(const std::vector<Bits>& snapshots) {
    PacketWriter writer;
    for (const Bits& snapshot : snapshots) {
        pktWriteBits(writer, 7, 8);
        for (const auto& [value, width] : snapshot) pktWriteBits(writer, std::int32_t(value), width);
        pktAlignWriter(writer);
    }
    return test::bytesOf(writer);
}

TEST(Snapshot, EachConversionStartsFromZeroAndRecordsCarryTheLatestHead) {
    // Old entry 0 is new entry 0 too, so the array reads the same in both protocols.
    Parts entryZeroIsSeven;
    entryZeroIsSeven.arrays = ABSENT + maskedArray(0x0001, {7}) + zeros(2);
    Bytes demo;
    test::appendRecord(demo, 1, message({oldSnapshot({}, 100), oldSnapshot(entryZeroIsSeven, 200)}));
    test::appendRecord(demo, 2, {1});  // no snapshot: keeps the latest head
    test::appendRecord(demo, 3, message({oldSnapshot(entryZeroIsSeven, 300)}));
    test::appendEndMarker(demo);

    const ConvertedDemo first = convertDemo(demo);
    EXPECT_EQ(test::hexText(convertDemo(demo).demo), test::hexText(first.demo)) << "second conversion differs";
    const std::vector<test::NewRecord> records = test::splitNewDemo(first.demo).records;
    const std::vector<test::NewRecord> expected = {
        {1, 200, message({newSnapshot({}), newSnapshot(entryZeroIsSeven)})},
        {2, 200, {1}},
        {3, 300, message({newSnapshot({})})},  // entry 0 was sent already
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].messageHead, expected[i].messageHead) << "record " << i;
        EXPECT_EQ(test::hexText(records[i].payload), test::hexText(expected[i].payload)) << "record " << i;
    }
}

}  // namespace
}  // namespace tarnic
