#include "transcode/snapshot.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "driver/convert.h"
#include "support/demo_file.h"

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

PacketWriter written(const Bits& bits) {
    PacketWriter writer;
    for (const auto& [value, width] : bits) pktWriteBits(writer, std::int32_t(value), width);
    return writer;
}

Bits maskedArray(std::uint32_t mask, const std::vector<std::uint32_t>& values, int width) {
    Bits bits{{1, 1}, {mask, 16}};
    for (const std::uint32_t value : values) bits.push_back({value, width});
    return bits;
}

constexpr std::uint32_t kHead = 0x89ABCDEF;
const Bits kAbsent = {{0, 1}};
const Bits kNewOnlyFields = {{1, 1}, {0, 10}, {1, 1}, {0, 16}, {1, 1}, {0, 8}};
const Bits kListEnd = {{1023, 10}};

/// Header fields 2 to 5, the same in both protocols.
Bits headerRest(const Bytes& block) {
    Bits bits{{0x01234567, 32}, {0x5A, 8}, {0xA5, 8}, {std::uint32_t(block.size()), 8}};
    for (const std::uint8_t byte : block) bits.push_back({byte, 8});
    return bits;
}

/// The parts of a snapshot a test varies, in one protocol's form.
struct Parts {
    Bits fields = zeros(45);  ///< player-state fields 1 to 45
    Bits arrays = zeros(4);   ///< masked arrays 1 to 4
    Bytes block;
};

Bits oldSnapshot(const Parts& parts, std::uint32_t head = kHead) {
    return Bits{{head, 32}} + headerRest(parts.block) + parts.fields + parts.arrays + kListEnd;
}

Bits newSnapshot(const Parts& parts) {
    return headerRest(parts.block) + parts.fields + kNewOnlyFields + parts.arrays + kListEnd;
}

/// Converts one old snapshot; expects the reader to stop exactly at its end.
PacketWriter transcode(SnapshotState& state, const Bits& old) {
    const PacketWriter input = written(old);
    const Bytes bytes = test::bytesOf(input);
    PacketReader reader{bytes.data(), std::uint32_t(bytes.size())};
    PacketWriter output;
    transcodeSnapshot(reader, output, state);
    EXPECT_FALSE(reader.pastEnd);
    EXPECT_EQ(reader.bytePos * 8 + reader.bitOffset, test::bitLengthOf(input)) << "old bits not read exactly";
    return output;
}

void expectBits(const PacketWriter& actual, const Bits& expected, const std::string& context) {
    const PacketWriter wanted = written(expected);
    const std::size_t length = test::bitLengthOf(wanted);
    EXPECT_EQ(test::bitLengthOf(actual), length) << context;
    EXPECT_EQ(test::bitText(test::bytesOf(actual), test::bitLengthOf(actual)),
              test::bitText(test::bytesOf(wanted), length))
        << context;
}

TEST(Snapshot, SmallestSnapshotIs147BitsIn152OutAndItsHeadMovesToTheState) {
    SnapshotState state;
    const Bits old = oldSnapshot({});
    ASSERT_EQ(test::bitLengthOf(written(old)), 147u);
    const PacketWriter output = transcode(state, old);
    // No head; 45 absent fields, the 37 bits of fields 46 to 48, four absent arrays.
    expectBits(output, headerRest({}) + zeros(45) + kNewOnlyFields + zeros(4) + kListEnd, "smallest");
    EXPECT_EQ(test::bitLengthOf(output), 152u);
    EXPECT_EQ(state.messageHead, kHead);
}

TEST(Snapshot, CountedByteBlockIsCopiedWhole) {
    for (const std::size_t count : {0u, 1u, 3u, 4u, 7u, 255u}) {
        Parts parts;
        for (std::size_t i = 0; i < count; ++i) parts.block.push_back(std::uint8_t(0xFF - i));
        SnapshotState state;
        const std::string name = "count " + std::to_string(count);
        expectBits(transcode(state, oldSnapshot(parts)), newSnapshot(parts), name);
    }
}

// Old widths of player-state fields 1 to 45; kPacked and kEvent mark the other forms.
constexpr int kPacked = -1;
constexpr int kEvent = -2;
constexpr std::array<int, 45> kOldFieldWidths = {
    32, 8, 8, 16, 16,                                               // 1 to 5
    kPacked, kPacked, kPacked, kPacked, kPacked, kPacked,           // 6 to 11
    16, 16, 16, 16, 16, 16, 10, 8, 12, 8, 8, 4, 16, 16,             // 12 to 25
    kEvent, kEvent, 8, 8, kEvent, 8, 8, 5, 4,                       // 26 to 34
    kPacked, kPacked, kPacked, 8, 8, 8, 8, 8, kPacked, kPacked, kPacked,  // 35 to 45
};

TEST(Snapshot, EachPlayerStateFieldIsConvertedAtItsWidth) {
    struct Case {
        std::string name;
        Bits oldFields;
        Bits newFields;
    };
    std::vector<Case> cases;
    Case allPresent{"all present", {}, {}};
    for (std::size_t index = 0; index < kOldFieldWidths.size(); ++index) {
        const int width = kOldFieldWidths[index];
        const int field = int(index) + 1;
        std::vector<std::pair<Bits, Bits>> forms;  // (old, new) of the present field
        if (width == kPacked) {
            forms.push_back({{{1, 1}, {0, 1}, {0x1FFF, 13}}, {{1, 1}, {0, 1}, {0x1FFF, 13}}});
            forms.push_back({{{1, 1}, {1, 1}, {0xFFFFFFFF, 32}}, {{1, 1}, {1, 1}, {0xFFFFFFFF, 32}}});
        } else if (width == kEvent) {
            // Event 63 is renumbered to 74; field 30 alone is widened to 10 bits.
            forms.push_back({{{1, 1}, {63, 8}}, {{1, 1}, {74, field == 30 ? 10 : 8}}});
        } else {
            const std::uint32_t ones = 0xFFFFFFFFu >> (32 - width);
            forms.push_back({{{1, 1}, {ones, width}}, {{1, 1}, {ones, width}}});
        }
        for (const auto& [oldField, newField] : forms) {
            cases.push_back({"field " + std::to_string(field),
                             zeros(field - 1) + oldField + zeros(45 - field),
                             zeros(field - 1) + newField + zeros(45 - field)});
        }
        allPresent.oldFields = allPresent.oldFields + forms.back().first;
        allPresent.newFields = allPresent.newFields + forms.back().second;
    }
    cases.push_back(allPresent);

    for (const Case& row : cases) {
        SnapshotState state;
        Parts oldParts, newParts;
        oldParts.fields = row.oldFields;
        newParts.fields = row.newFields;
        expectBits(transcode(state, oldSnapshot(oldParts)), newSnapshot(newParts), row.name);
    }
}

TEST(Snapshot, MaskedArraysOneThreeAndFourAreCopied) {
    Parts parts;
    parts.arrays = maskedArray(0x8001, {0xFFFF, 0x1234}, 16) + kAbsent +
                   maskedArray(0xFFFF, std::vector<std::uint32_t>(16, 0xA5A5), 16) +
                   maskedArray(0x0102, {0xFFFFFFFF, 0x80000001}, 32);
    SnapshotState state;
    expectBits(transcode(state, oldSnapshot(parts)), newSnapshot(parts), "arrays");
}

TEST(Snapshot, ArrayTwoIsSentAsTheEntriesChangedSinceTheLastSnapshot) {
    struct Step {
        Bits oldArray;
        Bits newArray;
    };
    struct Case {
        std::string name;
        std::vector<Step> steps;
        std::vector<std::pair<std::size_t, std::int32_t>> storedOld;  ///< nonzero receivedValues after
    };
    const std::vector<Case> cases = {
        {"entry 0 received as 0", {{maskedArray(0x0001, {0}, 16), kAbsent}}, {}},
        {"old 7 moves to 6", {{maskedArray(0x0080, {9}, 16), maskedArray(0x0040, {9}, 16)}}, {{7, 9}}},
        {"old 11 moves to 13", {{maskedArray(0x0800, {5}, 16), maskedArray(0x2000, {5}, 16)}}, {{11, 5}}},
        {"old 0 and 7 in order", {{maskedArray(0x0081, {3, 9}, 16), maskedArray(0x0041, {3, 9}, 16)}},
         {{0, 3}, {7, 9}}},
        {"unsent entries are stored only",
         {{maskedArray(0xF400, {1, 2, 3, 4, 5}, 16), kAbsent}, {maskedArray(0x0060, {6, 7}, 16), kAbsent}},
         {{5, 6}, {6, 7}, {10, 1}, {12, 2}, {13, 3}, {14, 4}, {15, 5}}},
        {"unchanged value is not sent again",
         {{maskedArray(0x0001, {4}, 16), maskedArray(0x0001, {4}, 16)},
          {maskedArray(0x0001, {4}, 16), kAbsent}},
         {{0, 4}}},
        {"absent array after a change",
         {{maskedArray(0x0200, {0xFFFF}, 16), maskedArray(0x0200, {0xFFFF}, 16)}, {kAbsent, kAbsent}},
         {{9, 0xFFFF}}},
        {"change back to 0",
         {{maskedArray(0x0010, {8}, 16), maskedArray(0x0010, {8}, 16)},
          {maskedArray(0x0010, {0}, 16), maskedArray(0x0010, {0}, 16)}},
         {}},
        {"every entry",
         {{maskedArray(0xFFFF, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16),
           maskedArray(0x235F, {1, 2, 3, 4, 5, 8, 9, 10, 12}, 16)}},
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8},
          {8, 9}, {9, 10}, {10, 11}, {11, 12}, {12, 13}, {13, 14}, {14, 15}, {15, 16}}},
    };

    for (const Case& row : cases) {
        SnapshotState state;
        for (std::size_t step = 0; step < row.steps.size(); ++step) {
            Parts oldParts, newParts;
            oldParts.arrays = kAbsent + row.steps[step].oldArray + zeros(2);
            newParts.arrays = kAbsent + row.steps[step].newArray + zeros(2);
            expectBits(transcode(state, oldSnapshot(oldParts)), newSnapshot(newParts),
                       row.name + ", snapshot " + std::to_string(step + 1));
        }
        std::array<std::int32_t, 16> stored{};
        for (const auto& [entry, value] : row.storedOld) stored[entry] = value;
        EXPECT_EQ(state.receivedValues, stored) << row.name;
        EXPECT_EQ(state.sentValues, state.remappedValues) << row.name;
        EXPECT_EQ(state.sentValues[5], 0) << row.name;
    }
}

TEST(Snapshot, ArrayTwoCutByTheEndOfThePayloadLeavesTheStateAlone) {
    SnapshotState state;
    state.receivedValues[0] = 4;
    state.remappedValues[0] = state.sentValues[0] = 4;
    const SnapshotState before = state;
    // The mask announces entry 0, but the payload ends before its value.
    const PacketWriter input =
        written(Bits{{kHead, 32}} + headerRest({}) + zeros(45) + kAbsent + Bits{{1, 1}, {1, 16}});
    const Bytes bytes = test::bytesOf(input);
    PacketReader reader{bytes.data(), std::uint32_t(bytes.size())};
    PacketWriter output;
    transcodeSnapshot(reader, output, state);
    EXPECT_TRUE(reader.pastEnd);
    EXPECT_EQ(state.receivedValues, before.receivedValues);
    EXPECT_EQ(state.sentValues, before.sentValues);
}

// Whole demos: the head of each record, and state that lives for one conversion only.

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
    entryZeroIsSeven.arrays = kAbsent + maskedArray(0x0001, {7}, 16) + zeros(2);

    Bytes demo;
    test::appendRecord(demo, 1, message({oldSnapshot({}, 100), oldSnapshot(entryZeroIsSeven, 200)}));
    test::appendRecord(demo, 2, {1});  // no snapshot: keeps the latest head
    test::appendRecord(demo, 3, message({oldSnapshot(entryZeroIsSeven, 300)}));
    test::appendEndMarker(demo);

    const ConvertedDemo first = convertDemo(demo);
    const ConvertedDemo second = convertDemo(demo);
    EXPECT_EQ(test::hexText(first.demo), test::hexText(second.demo)) << "second conversion differs";

    const test::NewDemo records = test::splitNewDemo(first.demo);
    ASSERT_EQ(records.records.size(), 3u);
    const std::vector<std::uint32_t> heads = {200, 200, 300};
    const std::vector<Bytes> payloads = {message({newSnapshot({}), newSnapshot(entryZeroIsSeven)}), {1},
                                         message({newSnapshot({})})};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records.records[i].messageHead, heads[i]) << "record " << i;
        EXPECT_EQ(test::hexText(records.records[i].payload), test::hexText(payloads[i])) << "record " << i;
    }
}

}  // namespace
}  // namespace tarnic
