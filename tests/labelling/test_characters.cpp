#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "labelling/characters.h"

namespace sorvane {
namespace {

using Pieces = std::vector<std::string>;

struct SplitCase {
    const char* desc;
    std::string text;
    Pieces expected;
};
void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.desc;
}

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, CutsIntoDisplayCharacters) {
    EXPECT_EQ(splitCharacters(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Split,
    testing::Values(SplitCase{"empty", "", {}}, SplitCase{"ascii", "aB3x", {"a", "B", "3", "x"}},
                    SplitCase{"two-byte", "\xC3\xA9z", {"\xC3\xA9", "z"}},
                    SplitCase{"three-byte",
                              "\xE4\xB8\xAD"
                              "a",
                              {"\xE4\xB8\xAD", "a"}},
                    SplitCase{"four-byte", "\xF0\x9F\x98\x80!", {"\xF0\x9F\x98\x80", "!"}},
                    SplitCase{"CR LF is one", "a\r\nb", {"a", "\r\n", "b"}},
                    SplitCase{"lone CR", "\ra", {"\r", "a"}},
                    SplitCase{"stray continuation",
                              "\x80"
                              "a",
                              {"\x80", "a"}},
                    SplitCase{"lead cut short by the end", "a\xE4\xB8", {"a", "\xE4\xB8"}},
                    SplitCase{"lead cut short by ascii",
                              "\xE4"
                              "a",
                              {"\xE4", "a"}},
                    SplitCase{"last byte stands alone", "a\xC3", {"a", "\xC3"}},
                    SplitCase{"C0 and C1 are not leads", "\xC0\x80", {"\xC0", "\x80"}},
                    SplitCase{"F5 is not a lead", "\xF5\x80", {"\xF5", "\x80"}},
                    SplitCase{"lead followed by a lead", "\xC3\xC3\xA9", {"\xC3", "\xC3\xA9"}}));

TEST(LabelFromName, TakesTheBytesBeforeTheFirstUnderscore) {
    const struct {
        const char* name;
        const char* label;
    } cases[] = {{"aB3x_0001.png", "aB3x"},
                 {"_0001.png", ""},
                 {"Q7.bmp", "Q7.bmp"},
                 {"a_b_c.png", "a"},
                 {"\xE4\xB8\xAD_1.png", "\xE4\xB8\xAD"},
                 {"", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(labelFromName(c.name), c.label) << c.name;
    }
}

TEST(CaseChange, OnlyAsciiLettersChange) {
    EXPECT_EQ(toUpper("aB3x\xC3\xA9z"), "AB3X\xC3\xA9Z");
    EXPECT_EQ(toLower("AB3X\xC3\x89Z"), "ab3x\xC3\x89z");
    EXPECT_EQ(toLower("0123456789ABCDEF"), "0123456789abcdef");
    EXPECT_EQ(toUpper(""), "");
    // bytes around the letter ranges stay put
    EXPECT_EQ(toUpper("@[`{"), "@[`{");
    EXPECT_EQ(toLower("@[`{"), "@[`{");
}

TEST(CaseChange, IsAllUpper) {
    EXPECT_TRUE(isAllUpper("A"));
    EXPECT_TRUE(isAllUpper("ABZ"));
    EXPECT_FALSE(isAllUpper(""));
    EXPECT_FALSE(isAllUpper("a"));
    EXPECT_FALSE(isAllUpper("A1"));
    EXPECT_FALSE(isAllUpper("3"));
    EXPECT_FALSE(isAllUpper("\xC3\x89"));
}

}  // namespace
}  // namespace sorvane
