// The JSON of examined demos: the object for one demo alone, as the npm package gives
// it, must be the element the program's array holds for it.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tarnic/report_json.h"
#include "support/demo_file.h"

namespace tarnic {
namespace {

using examine::DemoReport;
using examine::ExaminedDemo;
using examine::Protocol;
using test::Bytes;

/// The text with every line indented two more spaces, as an element of an array.
std::string indented(const std::string& text) {
    std::string result = "  ";
    for (const char c : text) {
        result += c;
        if (c == '\n') result += "  ";
    }
    return result;
}

TEST(ReportJson, EachObjectAloneIsItsElementOfTheArray) {
    std::ifstream file(TARNIC_SOURCE_DIR "/examples/sample.dm3", std::ios::binary);
    const Bytes sample{std::istreambuf_iterator<char>(file), {}};
    const Bytes cut(sample.begin(), sample.begin() + std::ptrdiff_t(sample.size() / 2));
    const DemoReport whole = examine::examineDemo(sample, Protocol::Old);
    const DemoReport damaged = examine::examineDemo(cut, Protocol::Old);
    ASSERT_TRUE(whole.wellFormed());
    ASSERT_FALSE(damaged.wellFormed());
    const ExaminedDemo demos[] = {
        {"sample.dm3", Protocol::Old, &whole, ""},
        {std::nullopt, Protocol::Old, &damaged, ""},
        {"notes.txt", std::nullopt, nullptr, "not a demo name"},
        {"gone.dm_48", Protocol::New, nullptr, "unable to open"},
    };
    for (const bool withFacts : {false, true}) {
        SCOPED_TRACE(withFacts ? "with facts" : "without facts");
        std::string elements;
        for (const ExaminedDemo& demo : demos) {
            std::string object = examinedDemoJson(demo, withFacts);
            ASSERT_EQ(object.back(), '\n');
            object.pop_back();
            elements += (elements.empty() ? "" : ",\n") + indented(object);
        }
        EXPECT_EQ(examinedDemosJson(demos, withFacts), "[\n" + elements + "\n]\n");
    }
    EXPECT_EQ(examinedDemoJson(demos[1], false).find("{\n  \"file\": null,\n  \"protocol\": \"old\",\n"), 0u);
    EXPECT_NE(examinedDemoJson(demos[0], true).find("\"players\": ["), std::string::npos);
    EXPECT_EQ(examinedDemoJson(demos[3], true), examinedDemoJson(demos[3], false));
}

}  // namespace
}  // namespace tarnic
