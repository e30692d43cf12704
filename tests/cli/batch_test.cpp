#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demokit/generator.h"
#include "demokit/old_encoder.h"
#include "support/folder_test.h"
#include "support/demo_file.h"
#include "support/run_program.h"
#include "tarnic/examine.h"

namespace tarnic {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::oneNopDemo;
using test::readFileBytes;
using test::writeFileBytes;
using test::runTarnic;

constexpr int SMALL_DEMO_COUNT = 12;

/// A demo whose conversion prints messages that end without a line end: a player
/// info string too long to edit.
Bytes oversizeInfoDemo() {
    demokit::GameState gameState;
    gameState.entries.push_back(demokit::ConfigString{600, "\\model\\" + std::string(2000, 'm')});
    demokit::Demo demo;
    demo.records.push_back({3, {{gameState}}});
    return demokit::encodeDemo(demo);
}

/// The diagnostics --info counts for an old demo.
std::size_t diagnosticsCounted(const Bytes& demo) {
    std::size_t count = 0;
    for (const auto& kind : examine::examineDemo(demo, examine::Protocol::Old).facts.diagnostics) count += kind.count;
    return count;
}

/// A tree of demos, every kind a batch meets; inputs lists the demos in path order.
class Batch : public test::FolderTest {
protected:
    Batch() : FolderTest("tarnic-batch") {}

    void SetUp() override {
        FolderTest::SetUp();
        const Bytes sample = readFileBytes(fs::path(TARNIC_SOURCE_DIR) / "examples/sample.dm3");
        // The large demo sorts first, so with two jobs the small ones finish before it.
        demokit::DemoOptions large;
        large.records = 1500;
        large.entities = 200;
        large.fieldDensity = 0.8;
        writeFileBytes(folder_ / "tree/a-large.dm3", demokit::generateDemoBytes(large));
        for (int at = 0; at < SMALL_DEMO_COUNT; ++at) {
            writeFileBytes(folder_ / ("tree/many/m" + std::to_string(10 + at) + ".dm3"), oneNopDemo(at));
        }
        writeFileBytes(folder_ / "tree/nested/cut.dm3", Bytes(sample.begin(), sample.begin() + 5000));
        writeFileBytes(folder_ / "tree/nested/deeper/Upper.DM3", oneNopDemo(40));
        writeFileBytes(folder_ / "tree/nested/with space.dm3", oneNopDemo(41));
        writeFileBytes(folder_ / "tree/nested/oversize.dm3", oversizeInfoDemo());
        writeFileBytes(folder_ / "tree/notes.txt", oneNopDemo(42));
        // Unreadable whoever runs the tests, the superuser included.
        fs::create_symlink("nowhere.dm3", folder_ / "tree/dangling.dm3");
        // A folder reached through a link is not entered.
        fs::create_directory_symlink("nested", folder_ / "tree/linked");
    }

    /// Demos the tree holds, in path order, relative to the tree; the dangling link aside.
    static std::vector<std::string> demos() {
        std::vector<std::string> names = {"a-large.dm3"};
        for (int at = 0; at < SMALL_DEMO_COUNT; ++at) names.push_back("many/m" + std::to_string(10 + at) + ".dm3");
        for (const char* name :
             {"nested/cut.dm3", "nested/deeper/Upper.DM3", "nested/oversize.dm3", "nested/with space.dm3"}) {
            names.emplace_back(name);
        }
        return names;
    }

    /// What the single-file form makes of a demo: the output, and its diagnostics.
    struct SingleFile {
        Bytes output;
        std::string diagnostics;
    };
    SingleFile convertAlone(const std::string& name) {
        const fs::path alone = folder_ / "alone";
        fs::create_directories(alone);
        fs::copy_file(folder_ / "tree" / name, alone / "demo.dm3", fs::copy_options::overwrite_existing);
        const test::RunResult run = runTarnic(alone, {"demo.dm3"});
        EXPECT_EQ(run.status, 0) << name << run.output;
        const std::string before = "Converting...\n", after = "\ndemo.dm3.dm_48 created successfully!\n";
        const std::size_t start = run.output.find(before) + before.size();
        const std::size_t end = run.output.rfind(after);
        SingleFile result{readFileBytes(alone / "demo.dm3.dm_48"), run.output.substr(start, end - start)};
        fs::remove_all(alone);
        return result;
    }
};

std::string indented(const std::string& text) {
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        result += "    " + text.substr(at, end - at) + "\n";
        at = end + 1;
    }
    return result;
}

TEST_F(Batch, TreeConvertsLikeTheSingleFileFormInPathOrder) {
    struct Case {
        std::vector<std::string> options;
        std::string outputRoot;  ///< where the tree's outputs go, below the test folder
    };
    for (const Case& run : {Case{{"--batch", "--jobs", "2", "--verbose"}, "tree"},
                            Case{{"--batch", "--jobs=2", "--output-dir", "out/sub", "--verbose"}, "out/sub"}}) {
        std::vector<std::string> arguments = run.options;
        arguments.push_back("tree");
        const test::RunResult batch = runTarnic(folder_, arguments);
        EXPECT_EQ(batch.status, 1) << "one input cannot be opened";

        std::string expected;
        int withDiagnostics = 0;
        for (const std::string& name : demos()) {
            if (name == "many/m10.dm3") {
                expected += "tree/dangling.dm3: FAILED: unable to open: No such file or directory\n";
            }
            const SingleFile alone = convertAlone(name);
            const fs::path output = folder_ / run.outputRoot / (name + ".dm_48");
            EXPECT_TRUE(readFileBytes(output) == alone.output) << output << " differs from the single-file conversion";
            // Counted as --info counts them: one a message, whether or not it ends its line.
            const std::size_t count = diagnosticsCounted(readFileBytes(folder_ / "tree" / name));
            expected += "tree/" + name + ": converted";
            if (count > 0) {
                ++withDiagnostics;
                expected += " with " + std::to_string(count) + (count == 1 ? " diagnostic" : " diagnostics");
            }
            if (name == "nested/cut.dm3") expected += "; damaged: last record (sequence 21) is cut short";
            expected += '\n';
            expected += indented(alone.diagnostics);
        }
        const std::string summary = std::to_string(demos().size()) + " converted (" + std::to_string(withDiagnostics) +
                                    " with diagnostics, 1 damaged), 0 skipped, 1 failed;";
        EXPECT_EQ(batch.output.substr(0, expected.size()), expected);
        EXPECT_EQ(batch.output.substr(expected.size(), summary.size()), summary) << batch.output;
        EXPECT_FALSE(fs::exists(folder_ / run.outputRoot / "notes.txt.dm_48"));
        EXPECT_EQ(batch.output.find("linked"), std::string::npos);
    }
}

TEST_F(Batch, SkipExistingLeavesOutputsThereAndConvertsTheRest) {
    const std::vector<std::string> arguments = {"--batch", "--skip-existing", "tree/nested", "tree/a-large.dm3"};
    writeFileBytes(folder_ / "tree/nested/cut.dm3.dm_48", {'k', 'e', 'e', 'p'});
    const test::RunResult first = runTarnic(folder_, arguments);
    EXPECT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("tree/nested/cut.dm3: skipped"), std::string::npos) << first.output;
    EXPECT_EQ(readFileBytes(folder_ / "tree/nested/cut.dm3.dm_48"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(readFileBytes(folder_ / "tree/a-large.dm3.dm_48"), convertAlone("a-large.dm3").output);

    const test::RunResult again = runTarnic(folder_, arguments);
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.output.find("0 converted (0 with diagnostics, 0 damaged), 5 skipped, 0 failed;"), std::string::npos)
        << again.output;
}

/// Files below `folder` whose names end in ".tmp": what an interrupted or failed run left.
std::vector<std::string> temporaryFilesIn(const fs::path& folder) {
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().extension() == ".tmp") left.push_back(entry.path().filename().string());
    }
    return left;
}

TEST_F(Batch, InputsAndOutputsAreToldApartAsFilesNotSpellings) {
    const fs::path absolute = fs::absolute(folder_);
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;  ///< the lines before the summary
    };
    const std::vector<Case> cases = {
        {{"in/x.dm3", (absolute / "in/x.dm3.dm_48").string()},
         "in/x.dm3: FAILED: its output in/x.dm3.dm_48 is another input\n" + (absolute / "in/x.dm3.dm_48").string() +
             ": converted with 2164 diagnostics; damaged: message 1 is truncated\n"},
        {{"in/x.dm3", (absolute / "in/x.dm3").string(), "in/../in/x.dm3"}, "in/x.dm3: converted\n"},
        {{"--output-dir", "out", "in/x.dm3", "other/x.dm3"},
         "in/x.dm3: converted\nother/x.dm3: FAILED: same output as in/x.dm3\n"},
        {{"--output-dir", "out", "in/x.dm3", "in/./sub/../x.dm3"}, "in/x.dm3: converted\n"},
    };
    const Bytes sample = readFileBytes(fs::path(TARNIC_SOURCE_DIR) / "examples/sample.dm3");
    for (const Case& row : cases) {
        SCOPED_TRACE(row.arguments[1]);
        fs::remove_all(folder_ / "in");
        fs::remove_all(folder_ / "out");
        writeFileBytes(folder_ / "in/x.dm3", sample);
        writeFileBytes(folder_ / "in/sub/keep", {});
        writeFileBytes(folder_ / "other/x.dm3", sample);
        const Bytes second = convertAlone("../in/x.dm3").output;
        writeFileBytes(folder_ / "in/x.dm3.dm_48", second);
        std::vector<std::string> arguments = {"--batch", "--jobs", "2"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const test::RunResult run = runTarnic(folder_, arguments);
        EXPECT_EQ(run.output.substr(0, row.expected.size()), row.expected) << run.output;
        if (row.expected.find("another input") != std::string::npos) {
            EXPECT_EQ(readFileBytes(folder_ / "in/x.dm3.dm_48"), second) << "an input was replaced";
        }
    }
}

TEST_F(Batch, LinksAtTheOutputNameAreReplacedNeverFollowed) {
    const Bytes expected = convertAlone("many/m10.dm3").output;
    const fs::path output = folder_ / "tree/many/m10.dm3.dm_48";
    struct Case {
        const char* name;
        void (*make)(const fs::path& output, const fs::path& folder);
    };
    const Case cases[] = {
        {"dangling link", [](const fs::path& at, const fs::path&) { fs::create_symlink("nowhere.dm_48", at); }},
        {"link to a folder",
         [](const fs::path& at, const fs::path& folder) { fs::create_directory_symlink(folder, at); }},
    };
    for (const Case& row : cases) {
        for (const char* skip : {"--verbose", "--skip-existing"}) {
            SCOPED_TRACE(std::string(row.name) + " " + skip);
            fs::remove_all(folder_ / "aside");
            writeFileBytes(folder_ / "aside/kept", {'k'});
            fs::remove(output);
            row.make(output, folder_ / "aside");
            const test::RunResult run = runTarnic(folder_, {"--batch", skip, "tree/many/m10.dm3"});
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_FALSE(fs::is_symlink(output));
            EXPECT_EQ(readFileBytes(output), expected);
            EXPECT_EQ(fs::directory_iterator(folder_ / "aside")->path().filename(), "kept");
        }
    }
}

TEST_F(Batch, NamesAndFailuresAreReportedAsTheyAre) {
    const Bytes demo = oneNopDemo(1);
    writeFileBytes(folder_ / "odd/line\nbreak.dm3", demo);
    writeFileBytes(folder_ / "odd/bell\x1b[2J.dm3", demo);
    const test::RunResult odd = runTarnic(folder_, {"--batch", "odd"});
    EXPECT_NE(odd.output.find("odd/bell\\x1B[2J.dm3: converted with 1 diagnostic\n"), std::string::npos) << odd.output;
    EXPECT_NE(odd.output.find("odd/line\\x0Abreak.dm3: converted with 1 diagnostic\n"), std::string::npos)
        << odd.output;

    // A file size limit makes the write fail as a full disk would.
    const test::RunResult full = test::runShell("cd '" + folder_.string() + "' && ulimit -f 8 && '" TARNIC_EXECUTABLE
                                                "' --batch tree/a-large.dm3");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.output.find("tree/a-large.dm3: FAILED: unable to write: File too large\n"), std::string::npos)
        << full.output;
    EXPECT_TRUE(temporaryFilesIn(folder_).empty());
}

TEST_F(Batch, StandardOutputThatFailsFailsTheRun) {
    for (const char* form : {"--batch tree/many/m10.dm3", "--verify tree/many/m10.dm3",
                             "--info --json tree/many/m10.dm3", "--verify --json tree/many/m10.dm3"}) {
        SCOPED_TRACE(form);
        const test::RunResult run = test::runShell("cd '" + folder_.string() + "' && '" TARNIC_EXECUTABLE "' " + form +
                                                   " 2>&1 >/dev/full");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find("tarnic: error writing standard output: "), std::string::npos) << run.output;
    }
}

}  // namespace
}  // namespace tarnic
