#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bits/packet_copy.h"
#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "support/demo_file.h"
#include "tarnic/console.h"

namespace tarnic {
namespace {

using test::Bytes;
using test::bytesOf;
using test::hexText;

PacketReader readerOver(const Bytes& bytes) {
    PacketReader reader;
    reader.data = bytes.data();
    reader.size = std::uint32_t(bytes.size());
    return reader;
}

struct Field {
    std::int32_t value;
    int bits;
};

struct WriteCase {
    const char* name;
    std::vector<Field> fields;
    Bytes expected;
    std::uint64_t writtenBits;
};

TEST(PacketWriter, WritesFieldsLeastSignificantBitFirst) {
    const std::vector<WriteCase> cases = {
        {"three then eight bits", {{5, 3}, {0xAB, 8}}, {0x5D, 0x05}, 11},
        {"one bit then all 32 set", {{0, 1}, {-1, 32}}, {0xFE, 0xFF, 0xFF, 0xFF, 0x01}, 33},
        {"13 bits of -1 leave the top bits zero", {{-1, 13}}, {0xFF, 0x1F}, 13},
        {"bits above the count are ignored", {{0x1FF, 8}}, {0xFF}, 8},
        {"negative count counts by magnitude", {{0xA5, -8}}, {0xA5}, 8},
        {"zero count writes nothing", {{0xFF, 0}}, {}, 0},
        {"zero count leaves a partial byte alone", {{1, 1}, {0xFF, 0}}, {0x01}, 1},
        {"32 bits at offset 7 cover five bytes", {{0, 7}, {std::int32_t(0x80000001u), 32}}, {0x80, 0x00, 0x00, 0x00, 0x40}, 39},
    };
    for (const auto& c : cases) {
        PacketWriter writer;
        for (const auto& field : c.fields) pktWriteBits(writer, field.value, field.bits);
        EXPECT_EQ(hexText(bytesOf(writer)), hexText(c.expected)) << c.name;
        EXPECT_EQ(pktWrittenBits(writer), c.writtenBits) << c.name;
        EXPECT_EQ(pktWrittenBytes(writer), c.expected.size()) << c.name;
    }
}

TEST(PacketReader, ReadsWhatTheWriterWrote) {
    const Bytes bytes = {0x5D, 0x05};
    PacketReader reader = readerOver(bytes);
    EXPECT_EQ(pktReadBits(reader, 3), 5u);
    EXPECT_EQ(pktReadBits(reader, 8), 0xABu);
    EXPECT_EQ(reader.bytePos, 1u);
    EXPECT_EQ(reader.bitOffset, 3);

    const Bytes wide = {0xFE, 0xFF, 0xFF, 0xFF, 0x01};
    reader = readerOver(wide);
    EXPECT_EQ(pktReadBit(reader), 0);
    EXPECT_EQ(pktReadBits(reader, 32), 0xFFFFFFFFu);
    EXPECT_EQ(reader.bytePos, 4u);
    EXPECT_EQ(reader.bitOffset, 1);
    EXPECT_FALSE(reader.pastEnd);
}

// Every width at every offset, near and far from the end of the buffer, from a
// printed seed: one round trip catches off-by-one shifts everywhere at once.
TEST(PacketRoundTrip, RandomWidthsAndOffsetsSurviveWriteThenRead) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<Field> fields;
    PacketWriter writer;
    for (int i = 0; i < 5000; ++i) {
        const int bits = int(random() % 32) + 1;
        const auto value = std::int32_t(random());
        fields.push_back({value, bits});
        pktWriteBits(writer, value, bits);
    }
    const Bytes bytes = bytesOf(writer);
    PacketReader reader = readerOver(bytes);
    for (const auto& field : fields) {
        const std::uint32_t mask = field.bits == 32 ? 0xFFFFFFFFu : (1u << field.bits) - 1;
        ASSERT_EQ(pktReadBits(reader, field.bits), std::uint32_t(field.value) & mask);
    }
    EXPECT_FALSE(reader.pastEnd);
}

// Every buffer length from 0 to 9 bytes and every start bit: reads that cross the
// end yield zeros for the missing bits and raise the flag, never touching memory
// beyond the buffer (the sanitizer build checks that part).
TEST(PacketReader, ReadsPastTheEndYieldZerosAndRaiseTheFlag) {
    for (std::size_t length = 0; length <= 9; ++length) {
        Bytes storage(length, 0xFF);
        for (unsigned start = 0; start <= length * 8; ++start) {
            for (int bits : {1, 7, 8, 13, 32}) {
                // An exact-size heap copy, so that an overread is caught.
                std::vector<std::uint8_t> exact(storage);
                PacketReader reader = readerOver(exact);
                reader.bytePos = start / 8;
                reader.bitOffset = std::uint8_t(start % 8);
                const std::size_t available = length * 8 - start;
                const std::uint32_t value = bits == 1 ? std::uint32_t(pktReadBit(reader)) : pktReadBits(reader, bits);
                const std::size_t ones = std::min<std::size_t>(available, std::size_t(bits));
                const std::uint32_t expected = ones == 32 ? 0xFFFFFFFFu : (1u << ones) - 1;
                ASSERT_EQ(value, expected) << "length " << length << " start " << start << " bits " << bits;
                ASSERT_EQ(reader.pastEnd, std::size_t(bits) > available)
                    << "length " << length << " start " << start << " bits " << bits;
            }
        }
    }
}

TEST(PacketReader, AtEndIgnoresBitsLeftInTheLastByte) {
    const Bytes bytes = {0x00, 0x00};
    PacketReader empty;
    EXPECT_TRUE(pktAtEnd(empty));
    PacketReader reader = readerOver(bytes);
    reader.bytePos = 1;
    reader.bitOffset = 3;
    EXPECT_FALSE(pktAtEnd(reader));
    pktAlignReader(reader);
    EXPECT_TRUE(pktAtEnd(reader));
    EXPECT_FALSE(reader.pastEnd);
}

Bytes stringBytes(const std::string& text, bool withNul) {
    Bytes bytes(text.begin(), text.end());
    if (withNul) bytes.push_back(0);
    return bytes;
}

struct StringCase {
    const char* name;
    std::size_t characters;
    bool withNul;
    unsigned startBit;
    std::size_t storedLength;
    std::size_t consumedBits;
    bool pastEnd;
};

TEST(PacketReader, ReadStringStopsAtNulOrAfter2047Characters) {
    const std::vector<StringCase> cases = {
        {"empty string", 0, true, 0, 0, 8, false},
        {"short string", 5, true, 0, 5, 48, false},
        {"short string off a byte boundary", 5, true, 3, 5, 48, false},
        {"2046 characters stored whole", 2046, true, 0, 2046, 2047 * 8, false},
        {"2047 characters leave their NUL behind", 2047, true, 0, 2047, 2047 * 8, false},
        {"longer string cut at 2047", 3000, true, 5, 2047, 2047 * 8, false},
        {"string without NUL ends at the payload end", 10, false, 0, 10, 11 * 8, true},
        {"unterminated string off a boundary", 10, false, 4, 10, 11 * 8, true},
    };
    for (const auto& c : cases) {
        const std::string text(c.characters, 'x');
        // Shift the string by startBit: write it bit-wise behind startBit zero bits.
        PacketWriter writer;
        pktWriteBits(writer, 0, int(c.startBit));
        for (const std::uint8_t byte : stringBytes(text, c.withNul)) pktWriteBits(writer, byte, 8);
        const Bytes bytes = bytesOf(writer);
        PacketReader reader = readerOver(bytes);
        if (c.startBit) pktReadBits(reader, int(c.startBit));
        StringBuffer destination;
        destination.fill('#');
        const std::size_t length = pktReadString(reader, destination);
        EXPECT_EQ(length, c.storedLength) << c.name;
        EXPECT_EQ(std::string(destination.data()), text.substr(0, c.storedLength)) << c.name;
        EXPECT_EQ(reader.bytePos * 8 + reader.bitOffset, c.startBit + c.consumedBits) << c.name;
        EXPECT_EQ(reader.pastEnd, c.pastEnd) << c.name;
    }
}

struct WriteStringCase {
    const char* name;
    std::size_t characters;
    unsigned startBit;
    std::size_t addedBits;
    bool refused;
};

TEST(PacketWriter, WriteStringAppendsTextAndNulOrRefusesLongText) {
    const std::vector<WriteStringCase> cases = {
        {"empty text", 0, 0, 8, false},
        {"1023 characters take 1024 bytes", 1023, 0, 1024 * 8, false},
        {"1024 characters are refused and written empty", 1024, 0, 8, true},
        {"off a byte boundary the text follows the bits", 3, 5, 32, false},
        {"refused off a byte boundary is still one NUL", 2000, 2, 8, true},
    };
    for (const auto& c : cases) {
        PacketWriter writer;
        pktWriteBits(writer, 0x1F, int(c.startBit));
        CollectingConsole console;
        const std::string text(c.characters, 'y');
        pktWriteString(writer, text, console);
        EXPECT_EQ(test::bitLengthOf(writer), c.startBit + c.addedBits) << c.name;
        EXPECT_EQ(console.text(), c.refused ? "pktWriteString: MAX_STRING_CHARS\n" : "") << c.name;
        // Whatever was written reads back as the string (or the empty one).
        const Bytes bytes = bytesOf(writer);
        PacketReader reader = readerOver(bytes);
        if (c.startBit) {
            EXPECT_EQ(pktReadBits(reader, int(c.startBit)), 0x1Fu & ((1u << c.startBit) - 1)) << c.name;
        }
        StringBuffer read;
        pktReadString(reader, read);
        EXPECT_EQ(std::string(read.data()), c.refused ? "" : text) << c.name;
        EXPECT_FALSE(reader.pastEnd) << c.name;
    }
}

TEST(PacketWriter, NextBitsAfterRawDataGoIntoTheLastAppendedByte) {
    PacketWriter writer;
    pktWriteBits(writer, 0x3, 2);
    const std::uint8_t raw[] = {0x10, 0x20};
    pktWriteData(writer, raw, sizeof raw);
    EXPECT_EQ(pktWrittenBytes(writer), 3u);
    EXPECT_EQ(pktWrittenBits(writer), 18u);
    pktWriteBits(writer, 0x3, 2);
    EXPECT_EQ(hexText(bytesOf(writer)), "03 10 2C");
}

TEST(PacketWriter, ResetReusesTheBufferAndZeroesBytesAsTheyAreBegun) {
    PacketWriter writer;
    pktWriteBits(writer, -1, 32);
    pktWriteBits(writer, -1, 32);
    pktResetWriter(writer);
    pktWriteBits(writer, 1, 1);
    pktAlignWriter(writer);
    pktWriteBits(writer, 0, 9);
    EXPECT_EQ(hexText(bytesOf(writer)), "01 00 00");
    EXPECT_EQ(pktWrittenBits(writer), 17u);
}

TEST(PacketWriter, GrowsPastAnyInitialCapacity) {
    PacketWriter writer;
    for (int i = 0; i < 100000; ++i) pktWriteBits(writer, i, 17);
    EXPECT_EQ(test::bitLengthOf(writer), 1700000u);
    const Bytes bytes = bytesOf(writer);
    PacketReader reader = readerOver(bytes);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(pktReadBits(reader, 17), std::uint32_t(i) & 0x1FFFFu);
}

// The writer keeps one bit position and ORs each field into the byte it lies in, so
// every byte it begins must start clean even where an earlier, longer message left
// ones in the buffer. Random writes, alignments, raw bytes and rewinds on a buffer
// first filled with ones, against a plain list of bits, from a printed seed.
TEST(PacketWriter, MixedWritesOnAReusedBufferMatchAListOfBits) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    PacketWriter writer;
    for (int message = 0; message < 200; ++message) {
        // A dirty buffer: ones over all of it, from a longer message before.
        pktResetWriter(writer);
        for (std::size_t i = 0; i < 40; ++i) pktWriteWord(writer, lowBits(56), 56);
        pktResetWriter(writer);
        std::vector<bool> bits;
        for (int step = 0; step < 60; ++step) {
            switch (random() % 9) {
                case 0: {
                    pktAlignWriter(writer);
                    bits.resize((bits.size() + 7) / 8 * 8, false);
                    break;
                }
                case 1: {
                    if (bits.size() % 8 != 0) break;  // off a boundary: a test of its own
                    const std::uint8_t raw[] = {std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())};
                    const std::size_t length = 1 + random() % 3;
                    pktWriteData(writer, raw, length);
                    for (std::size_t i = 0; i < length; ++i) {
                        for (int b = 0; b < 8; ++b) bits.push_back((raw[i] >> b) & 1);
                    }
                    break;
                }
                case 3: {
                    // A text and its NUL, byte-wise on a boundary, bit-wise off one.
                    std::string text(random() % 40, ' ');
                    for (char& c : text) c = char(1 + random() % 255);
                    CollectingConsole console;
                    pktWriteString(writer, text, console);
                    for (std::size_t i = 0; i <= text.size(); ++i) {
                        const auto byte = i < text.size() ? std::uint8_t(text[i]) : std::uint8_t{0};
                        for (int b = 0; b < 8; ++b) bits.push_back((byte >> b) & 1);
                    }
                    break;
                }
                case 2: {
                    const std::size_t keep = bits.empty() ? 0 : random() % bits.size();
                    pktRewindWriter(writer, keep);
                    bits.resize(keep);
                    break;
                }
                default: {
                    const unsigned width = 1 + random() % 56;
                    const std::uint64_t value = std::uint64_t(random()) << 32 | random();
                    pktWriteWord(writer, value, width);
                    for (unsigned b = 0; b < width; ++b) bits.push_back((value >> b) & 1);
                }
            }
            ASSERT_EQ(pktWrittenBits(writer), bits.size()) << "message " << message << " step " << step;
        }
        const Bytes bytes = bytesOf(writer);
        ASSERT_EQ(bytes.size(), (bits.size() + 7) / 8);
        for (std::size_t bit = 0; bit < bytes.size() * 8; ++bit) {
            const bool expected = bit < bits.size() && bits[bit];
            ASSERT_EQ((bytes[bit / 8] >> (bit % 8)) & 1, int(expected)) << "message " << message << " bit " << bit;
        }
    }
}

}  // namespace
}  // namespace tarnic

namespace tarnic {
namespace {

// Copies of every length from every start offset, into a writer at every offset,
// near and across the end of the payload: the bits arrive unchanged and in order,
// and bits beyond the payload come as zeros with the flag raised.
TEST(PacketCopy, CopiesAnyRunBetweenAnyOffsets) {
    std::mt19937 random(7);
    test::Bytes source(40);
    for (auto& byte : source) byte = std::uint8_t(random());
    const std::uint64_t totalBits = source.size() * 8;
    for (unsigned readStart = 0; readStart < 16; ++readStart) {
        for (unsigned writeStart = 0; writeStart < 8; ++writeStart) {
            for (std::uint64_t length : {0u, 1u, 31u, 32u, 55u, 56u, 57u, 113u, 300u, 330u}) {
                PacketReader reader = readerOver(source);
                pktReadBits(reader, int(readStart) + 1);
                PacketWriter writer;
                pktWriteBits(writer, 0x55, int(writeStart) + 1);
                pktCopyBits(reader, writer, length);

                const test::Bytes copied = bytesOf(writer);
                PacketReader check = readerOver(copied);
                ASSERT_EQ(pktReadBits(check, int(writeStart) + 1), 0x55u & lowBits(writeStart + 1));
                for (std::uint64_t bit = 0; bit < length; ++bit) {
                    const std::uint64_t from = readStart + 1 + bit;
                    const int expected = from < totalBits ? (source[from / 8] >> (from % 8)) & 1 : 0;
                    ASSERT_EQ(pktReadBit(check), expected) << "read start " << readStart << " write start "
                                                           << writeStart << " length " << length << " bit " << bit;
                }
                EXPECT_EQ(pktWrittenBits(writer), writeStart + 1 + length);
                EXPECT_EQ(reader.pastEnd, readStart + 1 + length > totalBits) << "length " << length;
            }
        }
    }
}

// A field that converts is read ahead, then the bits before it are copied and its new
// value written in its place, in one go: every run length from every read and write
// offset, fields of every kind of width, near and past the end of the payload.
TEST(PacketCopy, CopiesUpToAFieldAndWritesItsNewValueInItsPlace) {
    std::mt19937 random(11);
    test::Bytes source(40);
    for (auto& byte : source) byte = std::uint8_t(random());
    const std::uint64_t totalBits = source.size() * 8;
    struct Widths {
        unsigned oldBits, newBits;
    };
    for (const Widths field : {Widths{0, 0}, Widths{8, 8}, Widths{13, 13}, Widths{1, 2}, Widths{33, 33},
                               Widths{50, 51}, Widths{8, 56}}) {
        for (unsigned readStart = 0; readStart < 16; ++readStart) {
            for (unsigned writeStart = 0; writeStart < 8; ++writeStart) {
                for (std::uint64_t length : {0u, 1u, 31u, 55u, 56u, 57u, 111u, 112u, 113u, 200u, 250u, 300u}) {
                    SCOPED_TRACE("field " + std::to_string(field.oldBits) + " to " + std::to_string(field.newBits) +
                                 ", read start " + std::to_string(readStart) + ", write start " +
                                 std::to_string(writeStart) + ", length " + std::to_string(length));
                    PacketReader reader = readerOver(source);
                    pktReadBits(reader, int(readStart) + 1);
                    PacketWriter writer;
                    pktWriteBits(writer, 0x55, int(writeStart) + 1);
                    const std::uint64_t position = readStart + 1 + length;
                    const std::uint64_t value = std::uint64_t(random()) << 32 | random();
                    pktCopyUpToThenReplace(reader, writer, position, field.oldBits, value, field.newBits);

                    const test::Bytes written = bytesOf(writer);
                    PacketReader check = readerOver(written);
                    ASSERT_EQ(pktReadBits(check, int(writeStart) + 1), 0x55u & lowBits(writeStart + 1));
                    for (std::uint64_t bit = 0; bit < length; ++bit) {
                        const std::uint64_t from = readStart + 1 + bit;
                        const int expected = from < totalBits ? (source[from / 8] >> (from % 8)) & 1 : 0;
                        ASSERT_EQ(pktReadBit(check), expected) << "bit " << bit;
                    }
                    for (unsigned bit = 0; bit < field.newBits; ++bit) ASSERT_EQ(pktReadBit(check), int(value >> bit & 1));
                    EXPECT_EQ(pktWrittenBits(writer), writeStart + 1 + length + field.newBits);
                    EXPECT_EQ(pktReadPosition(reader), std::min(position + field.oldBits, totalBits));
                    EXPECT_EQ(reader.pastEnd, position + field.oldBits > totalBits);
                }
            }
        }
    }
}

TEST(PacketCopy, PeekReadsAheadWithoutMoving) {
    const Bytes bytes = {0xB4, 0x0F, 0x80};
    PacketReader reader = readerOver(bytes);
    pktReadBits(reader, 3);
    struct Peek {
        std::uint64_t ahead;
        int bits;
        std::uint32_t expected;
    };
    for (const Peek& peek : {Peek{0, 5, 0x16}, Peek{5, 4, 0xF}, Peek{20, 1, 1}, Peek{20, 8, 1}, Peek{21, 4, 0},
                             Peek{1000, 32, 0}}) {
        EXPECT_EQ(pktPeekAt(pktView(reader), pktReadPosition(reader) + peek.ahead, peek.bits), peek.expected)
            << "ahead " << peek.ahead;
    }
    EXPECT_EQ(reader.bytePos, 0u);
    EXPECT_EQ(reader.bitOffset, 3);
    EXPECT_FALSE(reader.pastEnd);
}

TEST(PacketWriter, RewindTakesBackBitsAndLaterWritesStartClean) {
    for (std::uint64_t keep = 0; keep <= 24; ++keep) {
        PacketWriter writer;
        pktWriteBits(writer, -1, 24);
        pktRewindWriter(writer, keep);
        EXPECT_EQ(pktWrittenBits(writer), keep);
        pktWriteBits(writer, 0, 8);
        const Bytes bytes = bytesOf(writer);
        PacketReader reader = readerOver(bytes);
        for (std::uint64_t bit = 0; bit < keep + 8; ++bit) {
            ASSERT_EQ(pktReadBit(reader), bit < keep ? 1 : 0) << "keep " << keep << " bit " << bit;
        }
    }
}

}  // namespace
}  // namespace tarnic
