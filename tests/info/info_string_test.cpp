#include "info/info_string.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnic {
namespace {

std::string pad(std::size_t n) { return std::string(n, 'x'); }

// Oversize texts: a pair "\a\1" behind enough padding to reach the length.
std::string textOfLength(std::size_t length) { return "\\p\\" + pad(length - 7) + "\\a\\1"; }

struct Lookup { std::string text, key, expected, console; };

TEST(InfoString, LookupFindsFirstPairIgnoringAsciiCase) {
    const Lookup rows[] = {
        {"\\name\\abc\\model\\xyz", "MODEL", "xyz", ""},
        {"\\name\\abc\\model\\xyz", "nick", "", ""},
        {"\\a\\1\\b", "a", "1", ""},
        {"\\a\\1\\b", "b", "", ""},           // key without a value ends the parse
        {"a\\1\\b\\2", "a", "1", ""},         // no leading backslash
        {"\\a\\1\\a\\2", "A", "1", ""},
        {"\\\xC4\\1", "\xE4", "", ""},        // only ASCII letters fold
        {"", "a", "", ""},
        {"\\\\empty key", "", "empty key", ""},
        {textOfLength(8191), "a", "1", ""},
        {textOfLength(8192), "a", "1", "Info_ValueForKey: oversize infostring"},
        {"\\" + pad(9000) + "\\" + pad(9000), pad(9000), pad(9000), "Info_ValueForKey: oversize infostring"},
    };
    for (const Lookup& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40) + " key " + row.key.substr(0, 40));
        CollectingConsole console;
        EXPECT_EQ(Info_ValueForKey(row.text, row.key, console), row.expected);
        EXPECT_EQ(console.text(), row.console);
    }
}

struct Edit { std::string text, key, value, expected, console; };

void expectEdits(const Edit* begin, const Edit* end, bool set) {
    for (const Edit* row = begin; row != end; ++row) {
        SCOPED_TRACE(row->text.substr(0, 40) + " key " + row->key.substr(0, 40));
        CollectingConsole console;
        std::string text = row->text;
        if (set) Info_SetValueForKey(text, row->key, row->value, console);
        else Info_RemoveKey(text, row->key, console);
        EXPECT_EQ(text, row->expected);
        EXPECT_EQ(console.text(), row->console);
    }
}

TEST(InfoString, RemovalTakesFirstExactlyEqualPairOnly) {
    const Edit rows[] = {
        {"\\a\\1", "A", "", "\\a\\1", ""},
        {"\\a\\1\\b\\2\\c\\3", "b", "", "\\a\\1\\c\\3", ""},
        {"\\a\\1\\b\\2\\c\\3", "a", "", "\\b\\2\\c\\3", ""},
        {"a\\1\\b\\2", "a", "", "\\b\\2", ""},
        {"\\a\\1\\b\\2\\a\\3", "a", "", "\\b\\2\\a\\3", ""},
        {"\\a\\1\\b", "b", "", "\\a\\1\\b", ""},
        {"\\a\\1", "a\\1", "", "\\a\\1", ""},
        {textOfLength(1024), "a", "", "\\p\\" + pad(1017), "Info_RemoveKey: oversize infostring"},
        {"\\" + pad(5000) + "\\v\\a\\1", pad(5000), "", "\\a\\1", "Info_RemoveKey: oversize infostring"},
    };
    expectEdits(std::begin(rows), std::end(rows), false);
}

TEST(InfoString, SetMovesPairToEndRefusesCharactersInOrderAndKeepsLimit) {
    const std::string backslash = "Can't use keys or values with a \\\n";
    const std::string semicolon = "Can't use keys or values with a semicolon\n";
    const std::string quote = "Can't use keys or values with a \"\n";
    const std::string exceeded = "Info string length exceeded\n";
    const std::string bothOversize = "Info_SetValueForKey: oversize infostringInfo_RemoveKey: oversize infostring";
    const std::string under = "\\a\\1\\p\\" + pad(1013);  // 1020 long, 1016 once a is removed
    const Edit rows[] = {
        {"\\a\\1\\b\\2", "a", "9", "\\b\\2\\a\\9", ""},
        {"\\a\\1\\b\\2", "c", "3", "\\a\\1\\b\\2\\c\\3", ""},
        {"\\a\\1\\b\\2", "a", "", "\\b\\2", ""},
        {"\\a\\1", "a", "x;y", "\\a\\1", semicolon},
        {"\\a\\1", "a", "x\"y", "\\a\\1", quote},
        {"\\a\\1", "a\"", "x;y", "\\a\\1", semicolon},     // semicolon tested before quote
        {"\\a\\1", "a;", "x\\y", "\\a\\1", backslash},     // backslash tested first
        {under, "a", pad(5), under.substr(4) + "\\a\\" + pad(5), ""},  // exactly 1024
        {under, "a", pad(6), under.substr(4), exceeded},                // the key stays removed
        {textOfLength(1024), "a", "9", "\\p\\" + pad(1017) + "\\a\\9", bothOversize},
        {textOfLength(1030), "a", "9", "\\p\\" + pad(1023), bothOversize + exceeded},
        {"\\a\\1", pad(2000), "v", "\\a\\1", exceeded},
        {"", "k", pad(1021), "\\k\\" + pad(1021), ""},
        {"", "k", pad(1022), "", exceeded},
    };
    expectEdits(std::begin(rows), std::end(rows), true);
}

}  // namespace
}  // namespace tarnic
