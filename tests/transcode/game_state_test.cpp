#include "transcode/game_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/demo_file.h"
#include "tarnic/console.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

using test::Bytes;
using test::bitLengthOf;
using test::bitText;
using test::bytesOf;

/// One entity delta in both encodings, as bits in stream order.
struct Delta {
    std::string oldBits;
    std::string newBits;
};

// A removal is one bit in both encodings: a baseline of it ends 3 bits into a byte.
const Delta REMOVAL{"1", "1"};
// An explicit mask that announces nothing; the new mask is one bit longer.
const Delta EMPTY_MASK{"0111111" + std::string(50, '0'), "0111111" + std::string(51, '0')};

void writeBitText(PacketWriter& writer, std::string_view bits) {
    for (const char bit : bits) pktWriteBits(writer, bit == '1', 1);
}

// Strings go in bit by bit, so the helper works at any offset and for any length.
void writeText(PacketWriter& writer, std::string_view text) {
    for (const char c : text) pktWriteBits(writer, std::uint8_t(c), 8);
    pktWriteBits(writer, 0, 8);
}

/// An old game state body and the new body it must become, built side by side.
struct GameStatePair {
    PacketWriter oldBits;
    PacketWriter newBits;

    GameStatePair() { both(0x12345678, 32); }

    GameStatePair& both(std::int32_t value, int bits) {
        pktWriteBits(oldBits, value, bits);
        pktWriteBits(newBits, value, bits);
        return *this;
    }
    GameStatePair& configString(std::int32_t oldIndex, std::string_view oldText, std::int32_t newIndex,
                                std::string_view newText) {
        both(3, 8);
        pktWriteBits(oldBits, oldIndex, 16);
        writeText(oldBits, oldText);
        pktWriteBits(newBits, newIndex, 16);
        writeText(newBits, newText);
        return *this;
    }
    GameStatePair& configString(std::int32_t index, std::string_view text) {
        return configString(index, text, index, text);
    }
    GameStatePair& dropped(std::int32_t oldIndex, std::string_view text) {
        pktWriteBits(oldBits, 3, 8);
        pktWriteBits(oldBits, oldIndex, 16);
        writeText(oldBits, text);
        return *this;
    }
    GameStatePair& baseline(std::int32_t number, const Delta& delta) {
        both(4, 8).both(number, 10);
        writeBitText(oldBits, delta.oldBits);
        writeBitText(newBits, delta.newBits);
        return *this;
    }
    GameStatePair& code(std::int32_t code) { return both(code, 8); }
    GameStatePair& end() { return code(0); }
};

struct Transcoded {
    Bytes bytes;
    std::size_t bits = 0;
    std::string console;
    std::size_t consumedBits = 0;
    bool pastEnd = false;
};

Transcoded transcode(const PacketWriter& oldBits) {
    const Bytes input = bytesOf(oldBits);
    PacketReader reader;
    reader.data = input.data();
    reader.size = std::uint32_t(input.size());
    PacketWriter writer;
    CollectingConsole console;
    transcodeGameState(reader, writer, console);
    return {bytesOf(writer), bitLengthOf(writer), console.text(), std::size_t(reader.bytePos) * 8 + reader.bitOffset,
            reader.pastEnd};
}

void expectBits(const Transcoded& got, const PacketWriter& expected) {
    const Bytes want = bytesOf(expected);
    EXPECT_EQ(got.bits, bitLengthOf(expected));
    EXPECT_EQ(got.bytes, want) << "got      " << bitText(got.bytes, got.bits) << "\nexpected "
                               << bitText(want, bitLengthOf(expected));
}

struct GameStateCase {
    const char* behaviour;
    std::function<void(GameStatePair&)> build;
    std::string console;
};

std::string repeated(char c, std::size_t count) { return std::string(count, c); }

TEST(GameStateTest, ConvertsEntriesAndReportsInOrder) {
    const std::vector<GameStateCase> cases = {
        {"first entry code 0 ends at once", [](GameStatePair& p) { p.end(); }, ""},
        {"indices 12 to 15 become 20 to 23",
         [](GameStatePair& p) {
             p.configString(12, "a", 20, "a").configString(13, "b", 21, "b");
             p.configString(14, "c", 22, "c").configString(15, "", 23, "").end();
         },
         ""},
        {"other indices keep their number",
         [](GameStatePair& p) {
             p.configString(0, "x").configString(11, "x").configString(16, "x").configString(19, "x");
             p.configString(22, "x").configString(23, "x").end();
         },
         ""},
        {"a dropped string vanishes between its neighbours",
         [](GameStatePair& p) { p.configString(1, "x").dropped(20, "gone").configString(2, "y").end(); }, ""},
        {"two dropped strings in a row vanish",
         [](GameStatePair& p) { p.dropped(20, "one").dropped(21, "two").end(); }, ""},
        {"a dropped string after a baseline off a byte boundary leaves no bits",
         [](GameStatePair& p) {
             p.baseline(5, REMOVAL).dropped(21, "gone").baseline(6, REMOVAL).dropped(20, "").end();
         },
         ""},
        {"strings after a baseline off a byte boundary are written bit-wise",
         [](GameStatePair& p) {
             p.baseline(5, REMOVAL).configString(7, "hello");
             p.configString(600, "\\model\\m", 600, "\\model\\m\\hmodel\\m").end();
         },
         ""},
        {"a baseline is converted", [](GameStatePair& p) { p.baseline(1023, EMPTY_MASK).end(); }, ""},
        {"baseline number 0 is reported and converted",
         [](GameStatePair& p) { p.baseline(0, EMPTY_MASK).baseline(1, REMOVAL).end(); },
         "Baseline number out of range!\n"},
        {"index 1024 is silent", [](GameStatePair& p) { p.configString(1024, "a").end(); }, ""},
        {"index 1025 is reported", [](GameStatePair& p) { p.configString(1025, "a").end(); },
         "Configstring Index too high!\n"},
        {"index report comes before the refusal of an overlong string",
         [](GameStatePair& p) { p.configString(1025, repeated('x', 1024), 1025, "").end(); },
         "Configstring Index too high!\npktWriteString: MAX_STRING_CHARS\n"},
        {"a bad code is kept and the next code starts at the very next bit",
         [](GameStatePair& p) { p.code(9).configString(1, "a").baseline(2, REMOVAL).code(0xFF).end(); },
         "Bad GameState command byte!\nBad GameState command byte!\n"},
    };
    for (const GameStateCase& row : cases) {
        SCOPED_TRACE(row.behaviour);
        GameStatePair pair;
        row.build(pair);
        const Transcoded got = transcode(pair.oldBits);
        expectBits(got, pair.newBits);
        EXPECT_EQ(got.console, row.console);
        EXPECT_EQ(got.consumedBits, bitLengthOf(pair.oldBits));
        EXPECT_FALSE(got.pastEnd);
    }
}

struct PlayerInfoCase {
    std::int32_t index;
    std::string oldText;
    std::string newText;
    std::string console;
};

TEST(GameStateTest, PlayerInfoStringsGainHModelFromModel) {
    const std::string plain = "\\name\\abc\\model\\xyz";
    const std::string fixed = plain + "\\hmodel\\xyz";
    const std::string longModel = "\\model\\" + repeated('m', 505);
    const std::string oversize = "\\model\\" + repeated('m', 2000);
    const std::vector<PlayerInfoCase> cases = {
        {543, plain, plain, ""},
        {544, plain, fixed, ""},
        {671, plain, fixed, ""},
        {672, plain, plain, ""},
        {600, "\\name\\abc\\Model\\xyz", "\\name\\abc\\Model\\xyz\\hmodel\\xyz", ""},
        {600, "\\MODEL\\xyz", "\\MODEL\\xyz\\hmodel\\xyz", ""},
        {600, "\\HModel\\old\\model\\xyz", "\\HModel\\old\\model\\xyz\\hmodel\\xyz", ""},
        {600, "\\hmodel\\old\\model\\xyz", "\\model\\xyz\\hmodel\\xyz", ""},
        {600, "\\hmodel\\old\\model\\", "\\model\\", ""},
        {600, "\\name\\abc\\hmodel\\old", "\\name\\abc", ""},
        {600, "\\hmodel\\old\\model\\a;b", "\\hmodel\\old\\model\\a;b", "Can't use keys or values with a semicolon\n"},
        {600, "\\model\\a\"b", "\\model\\a\"b", "Can't use keys or values with a \"\n"},
        {600, longModel, longModel, "Info string length exceeded\n"},
        {600, oversize, "",
         "Info_SetValueForKey: oversize infostringInfo_RemoveKey: oversize infostring"
         "Info string length exceeded\npktWriteString: MAX_STRING_CHARS\n"},
    };
    for (const PlayerInfoCase& row : cases) {
        SCOPED_TRACE(testing::Message() << row.index << " " << row.oldText.substr(0, 40));
        GameStatePair pair;
        pair.configString(row.index, row.oldText, row.index, row.newText).end();
        const Transcoded got = transcode(pair.oldBits);
        expectBits(got, pair.newBits);
        EXPECT_EQ(got.console, row.console);
    }
}

TEST(GameStateTest, GameStateCutShortStopsAtTheEndOfTheData) {
    // The old side ends early; the new side is what the entries read so far become.
    const std::vector<GameStateCase> cases = {
        {"nothing after the leading value", [](GameStatePair&) {}, ""},
        {"no end code after a whole entry", [](GameStatePair& p) { p.configString(1, "a"); }, ""},
        {"a string without its NUL ends where the data ends",
         [](GameStatePair& p) {
             p.both(3, 8).both(1, 16).both('a', 8).both('b', 8);
             pktWriteBits(p.newBits, 0, 8);
         },
         ""},
        {"a bad code at the end is reported once", [](GameStatePair& p) { p.code(9); },
         "Bad GameState command byte!\n"},
        {"a baseline whose delta is missing",
         [](GameStatePair& p) { p.baseline(7, {"", "00"}); }, ""},
    };
    for (const GameStateCase& row : cases) {
        SCOPED_TRACE(row.behaviour);
        GameStatePair pair;
        row.build(pair);
        const Transcoded got = transcode(pair.oldBits);
        expectBits(got, pair.newBits);
        EXPECT_EQ(got.console, row.console);
        EXPECT_TRUE(got.pastEnd);
    }
}

TEST(GameStateTest, WholeDemoConvertsGameStateAndGoesOnAfterIt) {
    GameStatePair pair;
    pair.configString(12, "title", 20, "title").dropped(20, "gone");
    pair.configString(544, "\\model\\abc", 544, "\\model\\abc\\hmodel\\abc").baseline(3, EMPTY_MASK).end();
    // The operation loop wraps the game state in its code and aligns it before the next operation.
    auto payloadOf = [](const PacketWriter& body) {
        Bytes payload{2};
        const Bytes bytes = bytesOf(body);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
        payload.push_back(1);
        return payload;
    };
    Bytes demo;
    test::appendRecord(demo, 4, payloadOf(pair.oldBits));
    test::appendEndMarker(demo);

    const ConvertedDemo converted = convertDemo(demo);
    const test::NewDemo split = test::splitNewDemo(converted.demo);
    ASSERT_EQ(split.records.size(), 1u);
    EXPECT_TRUE(split.endMarker);
    EXPECT_EQ(split.records[0].sequence, 4);
    const Bytes want = payloadOf(pair.newBits);
    EXPECT_EQ(split.records[0].payload, want) << "got      " << test::hexText(split.records[0].payload)
                                              << "\nexpected " << test::hexText(want);
    EXPECT_EQ(converted.console, "NOP server command.\n");
}

}  // namespace
}  // namespace tarnic
