#include "transcode/entity_delta.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bits/packet_copy.h"
#include "demokit/field_tables.h"
#include "support/demo_file.h"
#include "transcode/entity_fields.h"
#include "transcode/entity_scan.h"

namespace tarnic {
namespace {

using test::bitLengthOf;
using test::bitText;
using test::bytesOf;

enum class Encoding { Old, New };

// Field widths come from the test kit's own table, written apart from the converter's.
using demokit::ENTITY_FIELDS;

/// One field; a packed value is wide (flag 1, 32 bits) or narrow (flag 0, 13 bits).
struct Field {
    int number;
    std::uint32_t oldValue, newValue;
    bool wide = false;
};
Field same(int number, std::uint32_t value, bool wide = false) { return {number, value, value, wide}; }

struct Delta {
    bool removed = false;
    bool changed = true;
    int selector = 31;
    std::uint64_t mask = 0;          ///< the explicit mask, for selector 31
    std::vector<Field> fields = {};  ///< in increasing field number
};

/// A small writer of deltas in either encoding, straight from their layout.
void writeDelta(PacketWriter& writer, const Delta& delta, Encoding encoding) {
    const bool old = encoding == Encoding::Old;
    pktWriteBits(writer, delta.removed, 1);
    if (delta.removed) return;
    pktWriteBits(writer, delta.changed, 1);
    if (!delta.changed) return;
    pktWriteBits(writer, delta.selector, 5);
    if (delta.selector == 31) {
        for (int group = 0; group < 6; ++group) pktWriteBits(writer, std::int32_t(delta.mask >> (8 * group)), 8);
        pktWriteBits(writer, std::int32_t(delta.mask >> 48) & 3, old ? 2 : 3);
    }
    for (const Field& field : delta.fields) {
        const auto value = std::int32_t(old ? field.oldValue : field.newValue);
        const FieldRow& row = ENTITY_FIELDS[std::size_t(field.number)];
        if (row.form == FieldForm::Packed) {
            pktWriteBits(writer, field.wide, 1);
            pktWriteBits(writer, value, field.wide ? 32 : 13);
        } else {
            pktWriteBits(writer, value, old ? row.oldWidth : row.newWidth);
        }
    }
}

struct Entry {
    std::uint32_t number;
    Delta delta;
};

void writeEntries(PacketWriter& writer, const std::vector<Entry>& entries, Encoding encoding) {
    for (const Entry& entry : entries) {
        pktWriteBits(writer, std::int32_t(entry.number), 10);
        writeDelta(writer, entry.delta, encoding);
    }
}

void expectSameBits(const PacketWriter& output, const PacketWriter& expected) {
    EXPECT_EQ(bitLengthOf(output), bitLengthOf(expected));
    EXPECT_EQ(bytesOf(output), bytesOf(expected)) << "got      " << bitText(bytesOf(output), bitLengthOf(output))
                                                  << "\nexpected " << bitText(bytesOf(expected), bitLengthOf(expected));
}

constexpr std::uint32_t SENTINEL = 0xA5C;

/// Runs a transcoder over `input`, a 12-bit sentinel and `padding` bytes behind it; it
/// must consume exactly the input and write `expected`.
template <typename Transcode>
void expectConverted(const PacketWriter& input, const PacketWriter& expected, Transcode transcode,
                     std::size_t padding = 0) {
    PacketWriter source = input;
    pktWriteBits(source, SENTINEL, 12);
    for (std::size_t n = 0; n < padding; ++n) pktWriteBits(source, 0xFF, 8);
    const test::Bytes payload = bytesOf(source);
    PacketReader reader{payload.data(), std::uint32_t(payload.size())};
    PacketWriter output;
    transcode(reader, output);
    EXPECT_EQ(reader.bytePos * 8u + reader.bitOffset, bitLengthOf(input)) << "bits consumed";
    EXPECT_EQ(pktReadBits(reader, 12), SENTINEL);
    EXPECT_FALSE(reader.pastEnd);
    expectSameBits(output, expected);
}

/// Returns the bit lengths of the delta in the old and the new encoding.
std::pair<std::size_t, std::size_t> expectDeltaConverted(const Delta& delta) {
    PacketWriter input, expected;
    writeDelta(input, delta, Encoding::Old);
    writeDelta(expected, delta, Encoding::New);
    // Near the payload's end every read is checked; far from it the delta is walked.
    for (const std::size_t padding : {std::size_t{0}, std::size_t{MAX_ENTRY_BITS / 8 + 16}}) {
        SCOPED_TRACE(std::to_string(padding) + " bytes behind the delta");
        expectConverted(input, expected, transcodeEntityDelta, padding);
    }
    return {bitLengthOf(input), bitLengthOf(expected)};
}

constexpr std::uint64_t bit(int field) { return std::uint64_t{1} << field; }

TEST(EntityDelta, ConvertsEachLayoutWithItsBitLengths) {
    struct Row {
        std::string name;
        Delta delta;
        std::size_t oldBits, newBits;
    };
    const Row rows[] = {
        {"removal bit only", {.removed = true}, 1, 1},
        {"unchanged entity", {.changed = false}, 2, 2},
        {"explicit all-zero mask", {}, 57, 58},
        {"preset 7, event with bit 8", {.selector = 7, .fields = {{44, 0x12F, 0x130}}}, 17, 17},
        {"preset 18, narrow packed", {.selector = 18, .fields = {same(5, 0x1ABC)}}, 21, 21},
        {"preset 18, wide packed", {.selector = 18, .fields = {same(5, 0xDEADBEEF, true)}}, 40, 40},
        {"field 1 widened", {.mask = bit(1), .fields = {same(1, 0xFFFF)}}, 73, 77},
        {"2-bit group 3", {.mask = bit(48) | bit(49), .fields = {same(48, 0x12), same(49, 0x34)}}, 73, 74},
        {"type 12", {.mask = bit(0), .fields = {{0, 12, 13}}}, 65, 66},
        {"type below 12", {.mask = bit(0), .fields = {same(0, 5)}}, 65, 66},
        {"type 255 kept at 255", {.mask = bit(0), .fields = {same(0, 255)}}, 65, 66},
        {"event with bits 8 and 9", {.mask = bit(44), .fields = {{44, 0x340, 0x34C}}}, 67, 68},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(expectDeltaConverted(row.delta), std::make_pair(row.oldBits, row.newBits));
    }
}

TEST(EntityDelta, ConvertsEveryFieldAloneAndAllTogether) {
    Delta all{.mask = bit(50) - 1};
    for (int field = 0; field < 50; ++field) {
        SCOPED_TRACE("field " + std::to_string(field));
        // All ones fills every width and is its own new value in fields 0 and 44.
        const int width = ENTITY_FIELDS[std::size_t(field)].oldWidth;
        expectDeltaConverted({.mask = bit(field), .fields = {same(field, 0xFFFFFFFFu >> (width ? 32 - width : 0), true)}});
        all.fields.push_back(same(field, (std::uint32_t(field) * 0x9E3779B1u) & 0x1FFF, field % 3 == 0));
    }
    all.fields[0].oldValue = all.fields[0].newValue = 3;
    all.fields[44].oldValue = all.fields[44].newValue = 0x2AF;  // event 175: past the table
    SCOPED_TRACE("all fields");
    expectDeltaConverted(all);
}

TEST(EntityDelta, EachPresetAnnouncesItsFields) {
    const std::vector<std::vector<int>> presetFields = {
        {5, 6, 15}, {5, 6}, {5, 6, 14, 15}, {0, 5, 6, 7, 45}, {5, 6, 15, 44}, {5, 6, 7, 15},
        {5, 6, 7, 14, 15}, {44}, {6, 15}, {5, 15}, {5, 6, 15, 32}, {0, 2, 3, 5, 6, 7, 8, 9, 10, 47},
        {5, 6, 7}, {0, 2, 3, 5, 6, 7, 8, 9, 10, 44, 45}, {7}, {6}, {5, 6, 7, 14, 15, 44}, {5, 6, 44},
        {5}, {0, 5, 6, 7, 34, 45}, {0, 5, 6, 7, 22, 23, 24, 37, 45}, {5, 6, 7, 14, 15, 32}, {5, 6, 14},
        {6, 14, 15}, {5, 6, 14, 15, 32}, {5, 6, 14, 15, 44}, {5, 6, 15, 32, 48}, {5, 6, 15, 44, 45},
        {5, 6, 7, 15, 44}, {5, 14, 15}, {5, 6, 15, 49}};
    ASSERT_EQ(presetFields.size(), 31u);
    for (int selector = 0; selector < 31; ++selector) {
        // The first two packed values narrow or wide, in the four ways, and the rest alike.
        for (unsigned widths = 0; widths < 4; ++widths) {
            SCOPED_TRACE("selector " + std::to_string(selector) + ", widths " + std::to_string(widths));
            Delta delta{.selector = selector};
            std::uint64_t mask = 0;
            unsigned packed = 0;
            for (const int field : presetFields[std::size_t(selector)]) {
                const bool isPacked = ENTITY_FIELDS[std::size_t(field)].form == FieldForm::Packed;
                const bool wide = isPacked && (widths >> (packed % 2) & 1);
                packed += isPacked;
                delta.fields.push_back(same(field, std::uint32_t(field + 1), wide));  // untouched by renumbering
                mask |= bit(field);
            }
            // Fields of one width look alike on the wire; only the mask tells them apart.
            EXPECT_EQ(ENTITY_PRESET_MASKS[std::size_t(selector)], mask);
            expectDeltaConverted(delta);
        }
    }
}

TEST(EntityList, ConvertsEntriesThroughTheEndValue) {
    const std::vector<Entry> entries = {{0, {.changed = false}},
                                        {1022, {.selector = 18, .fields = {same(5, 7, true)}}},
                                        {5, {.removed = true}},
                                        {1, {.mask = bit(0) | bit(1), .fields = {{0, 12, 13}, same(1, 0xBEEF)}}}};
    for (const std::size_t count : {std::size_t{0}, entries.size()}) {
        SCOPED_TRACE(std::to_string(count) + " entries");
        const std::vector<Entry> list(entries.begin(), entries.begin() + std::ptrdiff_t(count));
        PacketWriter input, expected;
        writeEntries(input, list, Encoding::Old);
        writeEntries(expected, list, Encoding::New);
        pktWriteBits(input, 1023, 10);
        pktWriteBits(expected, 1023, 10);
        expectConverted(input, expected, transcodeEntityList);
    }
}

TEST(EntityList, StopsAtTheEndOfThePayloadAndLeavesOutTheCutEntry) {
    const Entry unchanged{0, {.changed = false}};
    const Entry cut{9, {.selector = 18, .fields = {same(5, 0xFFFFFFFF, true)}}};
    struct Row {
        std::string name;
        std::vector<Entry> entries;  ///< the whole entries, then the cut one
        std::size_t payloadBytes;
    };
    // Zero bytes read as unchanged entity 0 (12 bits) until the end cuts the third.
    const Row rows[] = {{"empty payload", {unchanged}, 0},
                        {"zero bytes", {unchanged, unchanged, unchanged}, 4},
                        {"end inside a wide packed value", {{3, unchanged.delta}, cut}, 5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PacketWriter input, output, expected;
        writeEntries(input, row.entries, Encoding::Old);
        test::Bytes payload = bytesOf(input);
        payload.resize(row.payloadBytes);
        PacketReader reader{payload.data(), std::uint32_t(payload.size())};
        // The caller's bits before the list stay; the cut entry goes, down to the zeros above it.
        pktWriteBits(output, 0x7F, 7);
        pktWriteBits(expected, 0x7F, 7);
        transcodeEntityList(reader, output);
        EXPECT_TRUE(reader.pastEnd);
        writeEntries(expected, {row.entries.begin(), row.entries.end() - 1}, Encoding::New);
        pktWriteBits(output, 0, 8);
        pktWriteBits(expected, 0, 8);
        expectSameBits(output, expected);
    }
}

// Far from the payload's end entries take the fast walk, near it the checked scan. The
// same list with more and more bytes behind it moves the switch across every entry:
// both ways must give the same bits, for every preset and explicit masks of every kind.
TEST(EntityList, WalksEveryLayoutAlikeFarFromAndNearThePayloadEnd) {
    std::vector<std::uint64_t> masks(ENTITY_PRESET_MASKS.begin(), ENTITY_PRESET_MASKS.end());
    const std::size_t presets = masks.size();
    std::uint64_t random = 0x243F6A8885A308D3u;
    const auto next = [&random] { return random = random * 6364136223846793005u + 1442695040888963407u; };
    masks.insert(masks.end(), {bit(50) - 1, 0, CONVERTING_FIELDS, bit(50) - 1 - CONVERTING_FIELDS});
    for (int n = 0; n < 8; ++n) masks.push_back(next() >> 14);
    std::vector<Entry> entries;
    for (std::size_t m = 0; m < masks.size(); ++m) {
        // Packed values narrow, wide, mixed at random and alternating both ways, so that
        // each flag is met both ways and a second flag behind either width of the first.
        for (int flags = 0; flags < 5; ++flags) {
            Delta delta{.selector = m < presets ? int(m) : 31, .mask = masks[m]};
            int packed = 0;
            for (int field = 0; field < 50; ++field) {
                if (!(masks[m] & bit(field))) continue;
                const bool isPacked = ENTITY_FIELDS[std::size_t(field)].form == FieldForm::Packed;
                const bool alternate = isPacked && (packed++ + flags) % 2 == 0;
                const bool wide = flags == 1 || (flags == 2 && next() >> 63) || (flags >= 3 && alternate);
                const int width = wide ? 32 : ENTITY_FIELDS[std::size_t(field)].oldWidth;
                const auto value = std::uint32_t(next() >> 32) >> (width ? 32 - width : 19);
                // The fields that convert take values the renumbering changes.
                if (field == 0) {
                    delta.fields.push_back({0, 12, 13});
                } else if (field == 1) {
                    delta.fields.push_back(same(1, value & 0xFFFF));  // widened, so no wider
                } else if (field == 44) {
                    delta.fields.push_back({44, 0x12F, 0x130});
                } else {
                    delta.fields.push_back(same(field, value, wide));
                }
            }
            entries.push_back({std::uint32_t(entries.size() % 1000), delta});
        }
        entries.push_back({7, {.removed = true}});
        entries.push_back({8, {.changed = false}});
    }
    PacketWriter input, expected;
    writeEntries(input, entries, Encoding::Old);
    writeEntries(expected, entries, Encoding::New);
    pktWriteBits(input, 1023, 10);
    pktWriteBits(expected, 1023, 10);
    const test::Bytes list = bytesOf(input);
    for (std::size_t padding = 0; padding <= MAX_ENTRY_BITS / 8 + 16; ++padding) {
        SCOPED_TRACE(std::to_string(padding) + " bytes behind the list");
        test::Bytes payload = list;
        payload.resize(list.size() + padding, 0xFF);
        PacketReader reader{payload.data(), std::uint32_t(payload.size())};
        PacketWriter output;
        transcodeEntityList(reader, output);
        EXPECT_EQ(pktReadPosition(reader), bitLengthOf(input));
        EXPECT_FALSE(reader.pastEnd);
        expectSameBits(output, expected);
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace tarnic
