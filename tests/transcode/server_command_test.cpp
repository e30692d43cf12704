#include "transcode/server_command.h"

#include <gtest/gtest.h>

#include "support/demo_file.h"
#include "tarnic/convert.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

using test::Bytes;
using test::bitLengthOf;
using test::bitText;
using test::bytesOf;

constexpr std::int32_t LEADING_VALUE = std::int32_t(0x89ABCDEFu);

// `offset` bits of filler, then the operation body: the leading value and the command text.
PacketWriter operationBody(int offset, std::string_view command) {
    PacketWriter body;
    pktWriteBits(body, 0x55, offset);
    pktWriteBits(body, LEADING_VALUE, 32);
    for (const char c : command) pktWriteBits(body, std::uint8_t(c), 8);
    pktWriteBits(body, 0, 8);
    return body;
}

PacketReader readerOf(const Bytes& payload) {
    PacketReader reader;
    reader.data = payload.data();
    reader.size = std::uint32_t(payload.size());
    return reader;
}

// The transcoder keeps to the bit stream wherever the operation starts, in the
// input and in the output.
TEST(ServerCommand, CopiesLeadingValueAndRewritesCommandAtAnyBitOffset) {
    const struct {
        int readerOffset;
        int writerOffset;
        std::string in;
        std::string out;
    } rows[] = {
        {0, 0, "cs 12 abc", "cs 20 abc"},
        {3, 5, "cs 20 abc", ""},
        {7, 1, "plink hello", "plink hello"},
        {8, 8, "scores -3 7 9", "scores 0 7 9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("command \"" + row.in + "\"");
        const Bytes input = bytesOf(operationBody(row.readerOffset, row.in));
        PacketReader reader = readerOf(input);
        for (int i = 0; i < row.readerOffset; ++i) pktReadBit(reader);
        PacketWriter writer;
        pktWriteBits(writer, 0x55, row.writerOffset);
        CollectingConsole console;
        transcodeServerCommand(reader, writer, console);

        const PacketWriter expected = operationBody(row.writerOffset, row.out);
        EXPECT_EQ(bitText(bytesOf(writer), bitLengthOf(writer)), bitText(bytesOf(expected), bitLengthOf(expected)));
        EXPECT_EQ(reader.bytePos * 8 + reader.bitOffset, row.readerOffset + 32 + 8 * (row.in.size() + 1));
        EXPECT_FALSE(reader.pastEnd);
        EXPECT_EQ(console.text(), "");
    }
}

Bytes serverCommand(std::uint32_t leadingValue, std::string_view command) {
    Bytes operation{OP_SERVERCOMMAND};
    test::appendLittle32(operation, leadingValue);
    operation.insert(operation.end(), command.begin(), command.end());
    operation.push_back(0);
    return operation;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ServerCommand, DemoOfServerCommandsConvertsExactly) {
    const struct {
        Bytes in;
        Bytes out;
    } records[] = {
        {concat({serverCommand(0x01020304, "cs 12 abc"), serverCommand(0xFFFFFFFF, "scores 1 2 3 4 5 6 7 8 9"), {1}}),
         concat({serverCommand(0x01020304, "cs 20 abc"),
                  serverCommand(0xFFFFFFFF, "scores 1 2 3 4 5 6 7 8 9 0 0 0 0 0 0 0 0"), {1}})},
        {serverCommand(7, "cs 21 x"), serverCommand(7, "")},
        // The command is cut after 2047 characters, and the rest is read as operation codes.
        {serverCommand(9, "scores 1 0 0 1 2 3 4 5 " + std::string(2047 - 23 - 2, ' ') + "6789\x01"),
         concat({serverCommand(9, "scores 1 0 0 1 2 3 4 5 67 0 0 0 0 0 0 0 0"), {'8', '9', 1, 0}})},
    };
    Bytes demo;
    for (std::size_t i = 0; i < std::size(records); ++i) test::appendRecord(demo, std::int32_t(10 + i), records[i].in);
    test::appendEndMarker(demo);

    const ConvertedDemo converted = convertDemo(demo);
    const test::NewDemo split = test::splitNewDemo(converted.demo);
    EXPECT_TRUE(split.endMarker);
    EXPECT_TRUE(split.wellFramed);
    ASSERT_EQ(split.records.size(), std::size(records));
    for (std::size_t i = 0; i < std::size(records); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(split.records[i].sequence, std::int32_t(10 + i));
        EXPECT_EQ(split.records[i].messageHead, 0u);
        EXPECT_EQ(test::hexText(split.records[i].payload), test::hexText(records[i].out));
    }
    EXPECT_EQ(converted.console,
              "NOP server command.\nUnknown server command.\nUnknown server command.\n"
              "NOP server command.\nBad server command.\n");
}

}  // namespace
}  // namespace tarnic
