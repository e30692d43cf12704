// --verify, --info and --json through the real program.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "demokit/old_encoder.h"
#include "support/folder_test.h"
#include "support/demo_file.h"
#include "support/run_program.h"
#include "transcode/server_op.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class ExamineCommand : public test::FolderTest {
protected:
    ExamineCommand() : FolderTest("tarnic-examine") {}

    void SetUp() override {
        FolderTest::SetUp();
        fs::copy_file(TARNIC_SOURCE_DIR "/examples/sample.dm3", folder_ / "sample.dm3");
    }

    void writeFile(const std::string& name, const Bytes& bytes) {
        std::ofstream(folder_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    /// Runs tarnic in the folder; `pipeTo` takes its output when given.
    test::RunResult tarnic(const std::string& arguments, const std::string& pipeTo = "") {
        std::string command = "cd '" + folder_.string() + "' && '" TARNIC_EXECUTABLE "' " + arguments;
        if (!pipeTo.empty()) command += " | " + pipeTo;
        return test::runShell(command);
    }
};

TEST_F(ExamineCommand, VerifyGivesAVerdictPerFileAndTheStatusOfTheWorst) {
    ASSERT_EQ(tarnic("sample.dm3").status, 0);
    auto run = tarnic("--verify sample.dm3 sample.dm3.dm_48");
    EXPECT_EQ(run.output, "sample.dm3: ok, 300 records\nsample.dm3.dm_48: ok, 300 records\n");
    EXPECT_EQ(run.status, 0);

    Bytes converted(fs::file_size(folder_ / "sample.dm3.dm_48"));
    std::ifstream(folder_ / "sample.dm3.dm_48", std::ios::binary)
        .read(reinterpret_cast<char*>(converted.data()), std::streamsize(converted.size()));
    converted.resize(converted.size() - 8);
    writeFile("NO-END.DM_48", converted);
    writeFile("garbage.dm3", {0x01, 0x02, 0x03});  // not even a whole sequence number
    run = tarnic("--verify NO-END.DM_48 garbage.dm3");
    EXPECT_EQ(run.output, "NO-END.DM_48: record 300: the file ends without the end marker\n"
                          "garbage.dm3: record 0: the file ends inside a record\n");
    EXPECT_EQ(run.status, 1);
    // What never ends, or is no file, is refused at once rather than read.
    fs::create_symlink("/dev/zero", folder_ / "zeros.dm_48");
    ASSERT_EQ(mkfifo((folder_ / "pipe.dm3").c_str(), 0600), 0);
    run = tarnic("--verify zeros.dm_48 pipe.dm3");
    EXPECT_EQ(run.output, "zeros.dm_48: error: not a regular file\npipe.dm3: error: not a regular file\n");
    EXPECT_EQ(run.status, 1);
    run = tarnic("--verify sample.dm3 notes.txt");
    EXPECT_EQ(run.output, "sample.dm3: ok, 300 records\n"
                          "notes.txt: error: not a demo name: the extension must be .dm3 or .dm_48\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(ExamineCommand, InfoSummarisesTheSample) {
    const auto run = tarnic("--info sample.dm3");
    EXPECT_EQ(run.status, 0);
    for (const char* line : {"sample.dm3\n", "  protocol      old (.dm3)\n", "  size          64505 bytes\n",
                             "  records       300, sequences 1 to 312\n", "  verdict       well-formed\n",
                             "    wobbletitle = Tarnic test plaza\n", "  players       8\n", "  diagnostics   none\n"}) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "in\n" << run.output;
    }
}

// Demo strings are bytes: whatever they hold, a real JSON parser takes the output.
TEST_F(ExamineCommand, JsonParsesWhateverBytesTheDemoHolds) {
    if (test::runShell("python3 -c 'pass'").status != 0) GTEST_SKIP() << "no python3";
    demokit::GameState gameState;
    const std::string name = "\\u\\Ren\xC3\xA9\\x\\\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xFF\x01\"q";
    gameState.entries.emplace_back(demokit::ConfigString{544, name});
    Bytes demo;
    test::appendRecord(demo, 1, demokit::encodeMessage({{gameState}}));
    test::appendRecord(demo, 2, {OP_BAD});
    test::appendEndMarker(demo);
    writeFile("odd.dm3", demo);
    const std::string check =
        "python3 -c 'import json, sys\n"
        "info, verdict = [json.load(open(name, \"rb\")) for name in sys.argv[1:]]\n"
        "odd = info[0][\"players\"][0][\"values\"]\n"
        "print(odd[\"u\"] == \"Ren\\u00e9\", odd[\"x\"] == \"\\ufffd\" * 10 + \"\\x01\\\"q\", info[1][\"error\"] is not None,\n"
        "      info[0][\"diagnostics\"], verdict[0][\"problem\"][\"kind\"], verdict[0][\"problem\"][\"record\"])'";
    ASSERT_EQ(tarnic("--info --json odd.dm3 none.dm_48 > info.json").status, 1);
    ASSERT_EQ(tarnic("--json --verify odd.dm3 > verify.json").status, 1);
    const auto run = test::runShell("cd '" + folder_.string() + "' && " + check + " info.json verify.json");
    EXPECT_EQ(run.output, "True True True [{'kind': 'Bad server command.', 'count': 1}] illegal-operation 1\n");
}

TEST_F(ExamineCommand, BatchVerifyFailsAConversionWhoseOutputDoesNotVerify) {
    Bytes demo;
    test::appendRecord(demo, 5, {OP_NOP, OP_BAD});  // the converter passes the bad code on
    test::appendEndMarker(demo);
    writeFile("bad.dm3", demo);
    // The output is checked before it takes its name: an earlier one stays as it was.
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    writeFile("bad.dm3.dm_48", earlier);
    const auto run = tarnic("--batch --verify --jobs 1 bad.dm3 sample.dm3");
    EXPECT_NE(run.output.find("bad.dm3: FAILED: the output does not verify (not kept): record 0 (sequence 5), "
                              "operation 1 (code 0, bad) at bit 8: an operation a message may not hold\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("sample.dm3: converted\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.status, 1);
    std::ifstream kept(folder_ / "bad.dm3.dm_48", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(kept), {}), earlier);
    EXPECT_TRUE(fs::exists(folder_ / "sample.dm3.dm_48"));
    for (const auto& entry : fs::directory_iterator(folder_)) EXPECT_NE(entry.path().extension(), ".tmp");
}


// Folders are walked as the batch walks them, taking demos of both protocols; every
// other name, a link to a folder and what a folder holds beside demos are left out.
TEST_F(ExamineCommand, VerifyAndInfoWalkFoldersAsTheBatchDoes) {
    ASSERT_EQ(tarnic("sample.dm3").status, 0);
    for (const char* folder : {"archive/b", "archive/a", "archive/case.dm3", "elsewhere", "empty"}) {
        fs::create_directories(folder_ / folder);
    }
    fs::copy_file(folder_ / "sample.dm3", folder_ / "archive/b/final.dm3");
    fs::copy_file(folder_ / "sample.dm3.dm_48", folder_ / "archive/a/Second.DM_48");
    fs::copy_file(folder_ / "sample.dm3", folder_ / "archive/case.dm3/inner.Dm3");
    fs::copy_file(folder_ / "sample.dm3", folder_ / "elsewhere/hidden.dm3");
    writeFile("archive/a/notes.txt", {'n'});
    writeFile("archive/c.dm3", {0x01, 0x02, 0x03});
    fs::create_symlink("../sample.dm3", folder_ / "archive/linked.dm3");
    fs::create_symlink("../elsewhere", folder_ / "archive/away.dm3");
    ASSERT_EQ(mkfifo((folder_ / "archive/pipe.dm_48").c_str(), 0600), 0);

    const std::string all = "archive/a/Second.DM_48: ok, 300 records\n"
                            "archive/b/final.dm3: ok, 300 records\n"
                            "archive/c.dm3: record 0: the file ends inside a record\n"
                            "archive/case.dm3/inner.Dm3: ok, 300 records\n"
                            "archive/linked.dm3: ok, 300 records\n"
                            "archive/pipe.dm_48: error: not a regular file\n";
    const struct {
        const char* arguments;
        std::string output;
        int status;
    } cases[] = {
        {"--verify archive", all, 1},
        // Named paths keep the order they are named in; a folder's demos come where it is named.
        {"--verify archive/b sample.dm3 archive/a empty",
         "archive/b/final.dm3: ok, 300 records\nsample.dm3: ok, 300 records\narchive/a/Second.DM_48: ok, 300 records\n", 0},
        {"--verify archive/a notes.txt", "archive/a/Second.DM_48: ok, 300 records\n"
                                          "notes.txt: error: not a demo name: the extension must be .dm3 or .dm_48\n", 2},
    };
    for (const auto& test : cases) {
        const auto run = tarnic(test.arguments);
        EXPECT_EQ(run.output, test.output) << test.arguments;
        EXPECT_EQ(run.status, test.status) << test.arguments;
    }
    // Summaries apart by a blank line, a folder's where it is named.
    const auto info = tarnic("--info archive/c.dm3 archive/a");
    EXPECT_TRUE(info.output.starts_with("archive/c.dm3\n  protocol      old (.dm3)\n")) << info.output;
    EXPECT_NE(info.output.find("\n\narchive/a/Second.DM_48\n  protocol      new (.dm_48)\n"), std::string::npos);
    // The old demos come in the batch's order.
    const auto batch = tarnic("--batch --jobs 1 --output-dir out archive", "sed -n 's/: .*//p'");
    std::string verified;
    for (std::size_t at = 0; at < all.size(); at = all.find('\n', at) + 1) {
        const std::string name = all.substr(at, all.find(": ", at) - at);
        if (!name.ends_with("_48")) verified += name + "\n";
    }
    EXPECT_EQ(batch.output, verified);
}

#if TARNIC_PACKS
// A pack, named or met in a folder, gives one result per demo member, named
// "pack:member", in the order the pack stores them, read as the loose file is.
TEST_F(ExamineCommand, VerifyAndInfoReadDemosInsidePacks) {
    if (test::runShell("zip -v >/dev/null && tar --version >/dev/null").status != 0) GTEST_SKIP() << "no zip or tar";
    ASSERT_EQ(tarnic("sample.dm3").status, 0);
    fs::create_directories(folder_ / "maps");
    fs::create_directories(folder_ / "folder/deep");
    fs::copy_file(folder_ / "sample.dm3", folder_ / "maps/final.dm3");
    fs::copy_file(folder_ / "sample.dm3.dm_48", folder_ / "maps/final.dm3.dm_48");
    writeFile("bad.DM3", {0x01, 0x02, 0x03});
    writeFile("readme.txt", {'r'});
    writeFile("folder/broken.zip", {'P', 'K', 0x03, 0x04, 0x00});
    fs::create_symlink("maps/final.dm3", folder_ / "link.dm3");
    const std::string make =
        "zip -q inner.zip sample.dm3 && zip -q pack.zip maps/final.dm3 readme.txt maps/final.dm3.dm_48 bad.DM3 "
        "inner.zip && zip -q one.zip sample.dm3 && tar -czf folder/deep/p.tar.gz link.dm3 sample.dm3 && "
        "tar -cf two.tar sample.dm3 maps/final.dm3 && head -c 100000 two.tar >cut.tar";
    ASSERT_EQ(test::runShell("cd '" + folder_.string() + "' && " + make).status, 0);

    const struct {
        const char* arguments;
        std::string output;
        int status;
    } cases[] = {
        {"--verify pack.zip", "pack.zip:maps/final.dm3: ok, 300 records\n"
                              "pack.zip:maps/final.dm3.dm_48: ok, 300 records\n"
                              "pack.zip:bad.DM3: record 0: the file ends inside a record\n", 1},
        {"--verify folder", "folder/broken.zip: error: ", 1},
        {"--verify folder/deep sample.dm3", "folder/deep/p.tar.gz:link.dm3: error: a link member, not followed\n"
                                            "folder/deep/p.tar.gz:sample.dm3: ok, 300 records\n"
                                            "sample.dm3: ok, 300 records\n", 1},
        {"--verify one.zip", "one.zip:sample.dm3: ok, 300 records\n", 0},
        // A member cut short fails as a read, and the walk stops there.
        {"--verify cut.tar", "cut.tar:sample.dm3: ok, 300 records\n"
                             "cut.tar:maps/final.dm3: error: read error: Truncated tar archive\n"
                             "cut.tar: error: damaged pack: Truncated tar archive\n", 1},
    };
    for (const auto& test : cases) {
        const auto run = tarnic(test.arguments);
        if (test.output.ends_with("error: ")) {
            EXPECT_TRUE(run.output.starts_with(test.output)) << run.output;
        } else {
            EXPECT_EQ(run.output, test.output) << test.arguments;
        }
        EXPECT_EQ(run.status, test.status) << test.arguments;
    }
    // What a member tells is what the loose file tells, but for its name.
    for (const char* mode : {"--info", "--info --json", "--verify --json"}) {
        const auto loose = tarnic(std::string(mode) + " sample.dm3");
        auto member = tarnic(std::string(mode) + " one.zip");
        member.output.erase(member.output.find("one.zip:"), 8);
        EXPECT_EQ(member.output, loose.output) << mode;
    }
}
#endif

}  // namespace
}  // namespace tarnic
