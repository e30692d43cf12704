#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include "support/folder_test.h"
#include "packs/pack_builder.h"
#include "packs/pack_reader.h"
#include "packs/pack_writer.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using packs::MemberKind;
using packs::PackFilter;
using packs::PackFormat;
using packs::PackReader;
using test::Bytes;
using test::TestMember;

/// Bytes that do not compress, so that a member's data is as long in the pack.
Bytes noise(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = std::uint8_t(seed >> 24);
    }
    return bytes;
}

/// What reading one member gave.
struct ReadMember {
    packs::PackMember member;
    Bytes bytes;
    bool failed = false;
};

struct ReadPack {
    std::vector<ReadMember> members;
    bool broken = false;
    PackFormat format = PackFormat::Zip;
    PackFilter filter = PackFilter::None;
};

ReadPack readPack(const fs::path& path) {
    ReadPack read;
    PackReader reader(path.string());
    EXPECT_TRUE(reader.opened()) << reader.error();
    for (;;) {
        const PackReader::Step step = reader.next();
        if (step == PackReader::Step::End) break;
        if (step == PackReader::Step::Broken) {
            read.broken = true;
            break;
        }
        ReadMember member{reader.member(), {}, false};
        std::uint8_t chunk[1000];
        for (std::size_t got; (got = reader.data().read(chunk, sizeof chunk)) > 0;) {
            member.bytes.insert(member.bytes.end(), chunk, chunk + got);
        }
        member.failed = reader.data().failed();
        EXPECT_EQ(member.failed, !reader.dataError().empty()) << member.member.name;
        read.members.push_back(std::move(member));
        read.format = reader.format();
        read.filter = reader.filter();
    }
    return read;
}

class Packs : public test::FolderTest {
protected:
    Packs() : FolderTest("tarnic-packs") {}
};

TEST(PackNames, TellDemosPacksUnsafeNamesAndConvertedNames) {
    struct Case {
        const char* name;
        bool demo, pack, unsafe;
        const char* converted;  // the converted pack's name, for a pack
    };
    const Case cases[] = {
        {"maps/final.dm3", true, false, false, ""},
        {"FINAL.DM3", true, false, false, ""},
        {"final.dm3.txt", false, false, false, ""},
        {"pack.zip", false, true, false, "pack.dm_48.zip"},
        {"Old.TGZ", false, true, false, "Old.dm_48.TGZ"},
        {"maps.tar.gz", false, true, false, "maps.dm_48.tar.gz"},
        {"a/b.tar.zst", false, true, false, "a/b.dm_48.tar.zst"},
        {"x.tar.bz2", false, true, false, "x.dm_48.tar.bz2"},
        {".zip", false, false, false, ""},
        {"notes.gz", false, false, false, ""},
        {"", false, false, true, ""},
        {"/etc/evil.dm3", true, false, true, ""},
        {"../evil.dm3", true, false, true, ""},
        {"maps/../../evil.dm3", true, false, true, ""},
        {"maps/..", false, false, true, ""},
        {"..evil/..dm3", true, false, false, ""},
        {"C:evil.dm3", true, false, true, ""},
        {"c:/evil.dm3", true, false, true, ""},
        {"maps\\..\\..\\evil.dm3", true, false, true, ""},
        {"\\evil.dm3", true, false, true, ""},
        {"maps/a:b.dm3", true, false, false, ""},
        {"Ünï/ñ.dm3", true, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(packs::isDemoName(c.name), c.demo);
        EXPECT_EQ(packs::isPackName(c.name), c.pack);
        EXPECT_EQ(packs::isUnsafeMemberName(c.name), c.unsafe);
        EXPECT_EQ(packs::convertedPackName(c.name), c.converted);
    }
    EXPECT_TRUE(packs::isUnsafeMemberName(std::string("a\0b.dm3", 7)));
}

TEST_F(Packs, EveryFormatIsReadAsStoredAndWrittenBackAlike) {
    const std::vector<TestMember> members = {
        {"maps/", {}, MemberKind::Folder},
        {"maps/Final.DM3", noise(150000, 1)},
        {"readme.txt", {'h', 'i'}},
        {"Ünï/ñ.dm3", noise(10, 2)},
        {"shortcut.dm3", {}, MemberKind::Link},
        {"inner.zip", noise(30, 3)},
        {"empty.dm3", {}},
    };
    const std::pair<PackFormat, PackFilter> kinds[] = {
        {PackFormat::Zip, PackFilter::None},  {PackFormat::Tar, PackFilter::None}, {PackFormat::Tar, PackFilter::Gzip},
        {PackFormat::Tar, PackFilter::Bzip2}, {PackFormat::Tar, PackFilter::Xz},   {PackFormat::Tar, PackFilter::Zstd},
    };
    for (const auto& [format, filter] : kinds) {
        SCOPED_TRACE(int(format) * 10 + int(filter));
        const fs::path original = folder_ / "original";
        test::buildPack(original, format, filter, members);
        const ReadPack read = readPack(original);
        EXPECT_FALSE(read.broken);
        EXPECT_EQ(read.format, format);
        EXPECT_EQ(read.filter, filter);
        ASSERT_EQ(read.members.size(), members.size());
        for (std::size_t at = 0; at < members.size(); ++at) {
            const packs::PackMember& member = read.members[at].member;
            SCOPED_TRACE(member.name);
            EXPECT_EQ(member.name, members[at].name);
            EXPECT_EQ(member.kind, members[at].kind);
            EXPECT_EQ(read.members[at].bytes, members[at].bytes);
            EXPECT_FALSE(read.members[at].failed);
            EXPECT_EQ(member.demo, at == 1 || at == 3 || at == 6);
            EXPECT_EQ(member.pack, at == 5);
            EXPECT_FALSE(member.unsafeName || member.encrypted || !member.problem.empty());
            if (member.kind == MemberKind::File) {
                EXPECT_EQ(member.size, members[at].bytes.size());
            }
        }

        // Written again from spools, every file and folder comes back as it was.
        const fs::path copy = folder_ / "copy";
        {
            const int file = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(file, 0);
            packs::PackWriter writer(file, format, filter);
            for (const ReadMember& member : read.members) {
                if (member.member.kind == MemberKind::Folder) {
                    ASSERT_TRUE(writer.addFolder(member.member.name, {}));
                } else if (member.member.kind == MemberKind::File) {
                    packs::Spool spool;
                    ASSERT_TRUE(spool.sink().write(member.bytes.data(), member.bytes.size()));
                    ASSERT_TRUE(spool.rewind());
                    ASSERT_TRUE(writer.addFile(member.member.name, spool.size(), spool.source(), {}));
                }
            }
            ASSERT_TRUE(writer.finish()) << writer.error();
            ::close(file);
        }
        const ReadPack again = readPack(copy);
        EXPECT_EQ(again.format, format);
        EXPECT_EQ(again.filter, filter);
        ASSERT_EQ(again.members.size(), members.size() - 1);  // the link is not written
        for (std::size_t at = 0, from = 0; at < again.members.size(); ++at, ++from) {
            if (read.members[from].member.kind == MemberKind::Link) ++from;
            EXPECT_EQ(again.members[at].member.name, read.members[from].member.name);
            EXPECT_EQ(again.members[at].bytes, read.members[from].bytes);
        }
    }
}

TEST_F(Packs, AWriterFedTooFewBytesFails) {
    const int file = ::open((folder_ / "short.tar").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    packs::PackWriter writer(file, PackFormat::Tar, PackFilter::None);
    const Bytes bytes = noise(100, 4);
    MemorySource source(bytes);
    EXPECT_FALSE(writer.addFile("a.dm3.dm_48", 101, source, {}));
    EXPECT_FALSE(writer.error().empty());
    EXPECT_FALSE(writer.finish());
    ::close(file);
}

/// A damage done to a built pack, and what reading it must give.
struct Damage {
    const char* what;
    PackFormat format;
    PackFilter filter;
    bool encryptFirst;
    void (*harm)(Bytes& pack);
    bool firstFails;      // reading the first member's bytes fails
    bool secondReadable;  // the second member is still read whole
};

void noHarm(Bytes&) {}

/// Flips bytes in the middle of the first member's data.
void flipFirstData(Bytes& pack) {
    const std::size_t at = test::offsetOf(pack, "first.dm3") + 5000;
    for (std::size_t i = 0; i < 64; ++i) pack[at + i] ^= 0x5A;
}

/// Makes the central directory claim the first member holds nearly 4 GB.
void claimGigabytes(Bytes& pack) {
    const std::size_t entry = test::offsetOf(pack, "PK\x01\x02");
    const std::uint32_t claimed = 0xF0000000u;
    std::memcpy(&pack[entry + 24], &claimed, 4);  // the size once uncompressed
}

/// Makes the tar header claim more bytes than the first member holds.
void lieTarSize(Bytes& pack) {
    const std::size_t header = test::offsetOf(pack, "first.dm3");
    std::memcpy(&pack[header + 124], "77777777777", 11);  // octal: 8 GiB - 1
    unsigned sum = 0;
    std::memset(&pack[header + 148], ' ', 8);
    for (std::size_t i = 0; i < 512; ++i) sum += pack[header + i];
    std::snprintf(reinterpret_cast<char*>(&pack[header + 148]), 8, "%06o", sum);
}

/// Cuts the pack inside its second member.
void cutInSecond(Bytes& pack) {
    pack.erase(pack.end() - std::min<std::ptrdiff_t>(15000, std::ssize(pack)), pack.end());
}

TEST_F(Packs, ADamagedMemberIsReportedAndTheWalkGoesOnWhereItCan) {
    const Damage damages[] = {
        {"encrypted", PackFormat::Zip, PackFilter::None, true, noHarm, true, true},
        {"flipped bytes, zip", PackFormat::Zip, PackFilter::None, false, flipFirstData, true, true},
        // The claim is not believed: the member's bytes end where its data does.
        {"claims gigabytes, zip", PackFormat::Zip, PackFilter::None, false, claimGigabytes, false, true},
        {"claims gigabytes, tar", PackFormat::Tar, PackFilter::None, false, lieTarSize, true, false},
        {"cut short, tar.gz", PackFormat::Tar, PackFilter::Gzip, false, cutInSecond, false, false},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        const fs::path path = folder_ / "damaged";
        const Bytes first = noise(100000, 5), second = noise(150000, 6);
        test::buildPack(path, damage.format, damage.filter,
                        {{"first.dm3", first, MemberKind::File, damage.encryptFirst}, {"second.dm3", second}});
        Bytes pack = test::readFileBytes(path);
        damage.harm(pack);
        test::writeFileBytes(path, pack);
        const ReadPack read = readPack(path);
        ASSERT_GE(read.members.size(), 1u);
        EXPECT_EQ(read.members[0].failed || !read.members[0].member.problem.empty(), damage.firstFails);
        EXPECT_EQ(read.members[0].member.encrypted, damage.encryptFirst);
        if (!damage.firstFails) {
            EXPECT_EQ(read.members[0].bytes, first);
        }
        // Never more than the pack holds, whatever its headers claim.
        EXPECT_LE(read.members[0].bytes.size(), pack.size());
        if (damage.secondReadable) {
            ASSERT_EQ(read.members.size(), 2u);
            EXPECT_EQ(read.members[1].bytes, second);
            EXPECT_FALSE(read.broken);
        } else {
            EXPECT_TRUE(read.broken || (read.members.size() == 2 && read.members[1].failed));
        }
    }
}

}  // namespace
}  // namespace tarnic
