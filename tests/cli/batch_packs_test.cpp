// Packs through the real program: converted into packs and folders, hostile members
// kept from doing harm.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "packs/pack_builder.h"
#include "packs/pack_reader.h"
#include "support/folder_test.h"
#include "support/demo_file.h"
#include "support/run_program.h"
#include "tarnic/convert.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using packs::MemberKind;
using packs::PackFilter;
using packs::PackFormat;
using test::Bytes;
using test::oneNopDemo;
using test::readFileBytes;
using test::runTarnic;
using test::TestMember;
using test::writeFileBytes;

/// Every file under `folder`, relative to it, sorted.
std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class BatchPacks : public test::FolderTest {
protected:
    BatchPacks() : FolderTest("tarnic-batch-packs") {}

    void SetUp() override {
        FolderTest::SetUp();
        fs::create_directories(folder_ / "work");
        sample_ = readFileBytes(fs::path(TARNIC_SOURCE_DIR) / "examples/sample.dm3");
    }

    /// The single-file form's output for `demo`, converted by the program itself.
    Bytes convertedAlone(const Bytes& demo) {
        writeFileBytes(folder_ / "alone/demo.dm3", demo);
        EXPECT_EQ(runTarnic(folder_ / "alone", {"demo.dm3"}).status, 0);
        return readFileBytes(folder_ / "alone/demo.dm3.dm_48");
    }

    Bytes sample_;
};

TEST_F(BatchPacks, APackBecomesAPackOfItsFormatHoldingEachDemoAsConvertedAlone) {
    const Bytes cut(sample_.begin(), sample_.begin() + 5000);
    const std::vector<TestMember> members = {
        {"maps/", {}, MemberKind::Folder}, {"maps/final.dm3", sample_}, {"maps/cut.dm3", cut},
        {"readme.txt", {'r', 'e', 'a', 'd'}}, {"Ünï/Ñame.DM3", oneNopDemo(7)},
    };
    const std::vector<std::pair<std::string, Bytes>> expected = {
        {"maps/", {}}, {"maps/final.dm3.dm_48", convertedAlone(sample_)}, {"maps/cut.dm3.dm_48", convertedAlone(cut)},
        {"readme.txt", {'r', 'e', 'a', 'd'}}, {"Ünï/Ñame.DM3.dm_48", convertedAlone(oneNopDemo(7))},
    };
    struct Kind {
        const char* name;
        const char* converted;
        PackFormat format;
        PackFilter filter;
    };
    const Kind kinds[] = {
        {"pack.zip", "pack.dm_48.zip", PackFormat::Zip, PackFilter::None},
        {"pack.tar", "pack.dm_48.tar", PackFormat::Tar, PackFilter::None},
        {"pack.tar.gz", "pack.dm_48.tar.gz", PackFormat::Tar, PackFilter::Gzip},
        {"Pack.TZST", "Pack.dm_48.TZST", PackFormat::Tar, PackFilter::Zstd},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        fs::remove_all(folder_ / "work");
        test::buildPack(folder_ / "work" / kind.name, kind.format, kind.filter, members);
        for (const char* jobs : {"1", "3"}) {
            const test::RunResult run = runTarnic(folder_ / "work", {"--batch", "--jobs", jobs, kind.name});
            EXPECT_EQ(run.status, 0);
            const std::string name = kind.name;
            EXPECT_EQ(run.output.substr(0, run.output.find("3 converted")),
                      name + ":maps/final.dm3: converted\n" + name +
                          ":maps/cut.dm3: converted with 1 diagnostic; damaged: last record (sequence 21) is cut short\n" +
                          name + ":Ünï/Ñame.DM3: converted with 1 diagnostic\n");
            std::vector<std::string> files = {kind.converted, kind.name};
            std::sort(files.begin(), files.end());
            EXPECT_EQ(filesUnder(folder_ / "work"), files);
            EXPECT_EQ(test::readPackMembers(folder_ / "work" / kind.converted), expected);
        }
        if (kind.format == PackFormat::Zip) {
            // The member named outside ASCII carries the UTF-8 flag: unpacking keeps its name.
            const Bytes zip = readFileBytes(folder_ / "work" / kind.converted);
            const std::size_t entry = test::offsetOf(zip, "Ünï/Ñame.DM3.dm_48", test::offsetOf(zip, "PK\x01\x02")) - 46;
            EXPECT_TRUE(zip[entry + 9] & 0x08) << "general purpose flags " << int(zip[entry + 9]);
        }
    }
}

TEST_F(BatchPacks, HostileMembersNeverWriteOutsideAndTheRestAreConverted) {
    Bytes inner;
    {
        test::buildPack(folder_ / "inner.zip", PackFormat::Zip, PackFilter::None, {{"hidden.dm3", oneNopDemo(3)}});
        inner = readFileBytes(folder_ / "inner.zip");
        fs::remove(folder_ / "inner.zip");
    }
    const std::vector<TestMember> members = {
        {"../escape.dm3", oneNopDemo(1)},
        {(folder_ / "absolute.dm3").string(), oneNopDemo(1)},
        {"C:drive.dm3", oneNopDemo(1)},
        {"maps\\..\\..\\back.dm3", oneNopDemo(1)},  // read as "maps/../../back.dm3"
        {"link.dm3", {}, MemberKind::Link},
        {"inner.zip", inner},
        {"secret.dm3", oneNopDemo(2), MemberKind::File, true},
        {"flipped.dm3", sample_},
        {"good.dm3", oneNopDemo(4)},
    };
    const std::string unsafe = ": skipped, unsafe name, not written\n";
    const std::string lines = "p.zip:../escape.dm3" + unsafe + "p.zip:" + (folder_ / "absolute.dm3").string() +
                              unsafe + "p.zip:C:drive.dm3" + unsafe + "p.zip:maps/../../back.dm3" +
                              unsafe + "p.zip:link.dm3: skipped, a link, neither followed nor written\n";
    test::buildPack(folder_ / "work/p.zip", PackFormat::Zip, PackFilter::None, members);
    Bytes pack = readFileBytes(folder_ / "work/p.zip");
    const std::size_t flipped = test::offsetOf(pack, "flipped.dm3") + 3000;
    for (std::size_t at = 0; at < 64; ++at) pack[flipped + at] ^= 0x5A;
    writeFileBytes(folder_ / "work/p.zip", pack);

    // Into a new pack: only the good demo and the inner pack, copied as it is.
    test::RunResult run = runTarnic(folder_ / "work", {"--batch", "p.zip"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.substr(0, lines.size()), lines);
    EXPECT_NE(run.output.find("p.zip:inner.zip: skipped, a pack inside the pack, not opened; copied as it is\n"
                              "p.zip:secret.dm3: FAILED: encrypted, unable to read\n"
                              "p.zip:flipped.dm3: FAILED: unable to read"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("p.zip:good.dm3: converted with 1 diagnostic\n1 converted"), std::string::npos)
        << run.output;
    const auto converted = test::readPackMembers(folder_ / "work/p.dm_48.zip");
    ASSERT_EQ(converted.size(), 2u);
    EXPECT_EQ(converted[0], std::make_pair(std::string("inner.zip"), inner));
    EXPECT_EQ(converted[1].first, "good.dm3.dm_48");
    EXPECT_EQ(filesUnder(folder_), (std::vector<std::string>{"work/p.dm_48.zip", "work/p.zip"}));

    // Into a folder: the good demo alone, as a file below the pack's folder.
    fs::create_directories(folder_ / "work/out/deep");
    run = runTarnic(folder_ / "work/out/deep", {"--batch", "--output-dir", ".", "../../p.zip"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("../../p.zip:../escape.dm3: skipped, unsafe name"), std::string::npos) << run.output;
    EXPECT_EQ(filesUnder(folder_ / "work/out"), (std::vector<std::string>{"deep/p.zip/good.dm3.dm_48"}));
    EXPECT_EQ(filesUnder(folder_).size(), 3u);
}

TEST_F(BatchPacks, InAFolderOnlyPacksHoldingDemosAreConvertedAndSkipExistingSkipsThem) {
    test::buildPack(folder_ / "work/tree/demos.tar.xz", PackFormat::Tar, PackFilter::Xz,
                    {{"a.dm3", oneNopDemo(1)}, {"b/B.DM3", oneNopDemo(2)}});
    test::buildPack(folder_ / "work/tree/other.zip", PackFormat::Zip, PackFilter::None, {{"notes.txt", {'n'}}});
    writeFileBytes(folder_ / "work/tree/loose.dm3", oneNopDemo(3));
    struct Case {
        std::vector<std::string> arguments;
        const char* lines;
        std::vector<std::string> files;  // what the run leaves, under work
    };
    const Case cases[] = {
        {{"--batch", "tree"},
         "tree/demos.tar.xz:a.dm3: converted with 1 diagnostic\ntree/demos.tar.xz:b/B.DM3: converted with 1 "
         "diagnostic\ntree/loose.dm3: converted with 1 diagnostic\n3 converted",
         {"tree/demos.dm_48.tar.xz", "tree/demos.tar.xz", "tree/loose.dm3", "tree/loose.dm3.dm_48", "tree/other.zip"}},
        {{"--batch", "--skip-existing", "tree"},
         "tree/demos.tar.xz: skipped, output exists\ntree/loose.dm3: skipped, output exists\n0 converted",
         {"tree/demos.dm_48.tar.xz", "tree/demos.tar.xz", "tree/loose.dm3", "tree/loose.dm3.dm_48", "tree/other.zip"}},
        {{"--batch", "tree/other.zip"}, "tree/other.zip: skipped, no .dm3 member\n0 converted", {}},
        {{"--batch", "--output-dir", "out", "tree"},
         "tree/demos.tar.xz:a.dm3: converted with 1 diagnostic\ntree/demos.tar.xz:b/B.DM3: converted with 1 "
         "diagnostic\ntree/loose.dm3: converted with 1 diagnostic\n",
         {"out/demos.tar.xz/a.dm3.dm_48", "out/demos.tar.xz/b/B.DM3.dm_48", "out/loose.dm3.dm_48"}},
        {{"--batch", "--skip-existing", "--output-dir", "out", "tree"},
         "tree/demos.tar.xz:a.dm3: skipped, output exists\ntree/demos.tar.xz:b/B.DM3: skipped, output exists\n"
         "tree/loose.dm3: skipped, output exists\n0 converted",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back() + " " + c.arguments[1]);
        const test::RunResult run = runTarnic(folder_ / "work", c.arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output.substr(0, std::string(c.lines).size()), c.lines);
        const std::vector<std::string> files = filesUnder(folder_ / "work");
        for (const std::string& file : c.files) EXPECT_TRUE(std::count(files.begin(), files.end(), file)) << file;
    }
    EXPECT_EQ(test::readPackMembers(folder_ / "work/out/demos.tar.xz/../../tree/demos.dm_48.tar.xz").size(), 2u);
    EXPECT_EQ(readFileBytes(folder_ / "work/out/demos.tar.xz/b/B.DM3.dm_48"), convertDemo(oneNopDemo(2)).demo);
}

TEST_F(BatchPacks, APackInAFolderThatCannotBeReadFailsRatherThanPassingUnseen) {
    writeFileBytes(folder_ / "work/tree/broken.zip", Bytes(300, 'x'));
    writeFileBytes(folder_ / "work/tree/loose.dm3", oneNopDemo(3));
    const test::RunResult run = runTarnic(folder_ / "work", {"--batch", "tree"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.rfind("tree/broken.zip: FAILED: unable to read the pack: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("tree/loose.dm3: converted"), std::string::npos) << run.output;
}


TEST_F(BatchPacks, WhenTheNewPackCannotBeWrittenNoMemberCountsAsConverted) {
    // Bytes that do not deflate, behind two demos: the pack outgrows the file size
    // limit there, after both demos went into it, though no member alone reaches it.
    Bytes noise(100 << 10);
    std::uint32_t state = 7;
    for (std::uint8_t& byte : noise) byte = std::uint8_t((state = state * 1664525u + 1013904223u) >> 24);
    test::buildPack(folder_ / "work/p.zip", PackFormat::Zip, PackFilter::None,
                    {{"a.dm3", oneNopDemo(1)}, {"b.dm3", oneNopDemo(2)}, {"1.bin", noise}, {"2.bin", noise},
                     {"3.bin", noise}});
    const test::RunResult run = test::runShell("cd '" + (folder_ / "work").string() + "' && ulimit -f 256 && '"
                                               TARNIC_EXECUTABLE "' --batch p.zip");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.substr(0, run.output.find("p.zip: FAILED")),
              "p.zip:a.dm3: FAILED: not kept: the converted pack cannot be written\n"
              "p.zip:b.dm3: FAILED: not kept: the converted pack cannot be written\n");
    EXPECT_NE(run.output.find("\n0 converted"), std::string::npos) << run.output;
    EXPECT_EQ(filesUnder(folder_ / "work"), (std::vector<std::string>{"p.zip"}));
}

}  // namespace
}  // namespace tarnic
