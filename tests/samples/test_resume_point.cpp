#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/files.h"
#include "samples/resume_point.h"
#include "support/temp_dir.h"

namespace sorvane {
namespace {

struct ResumeCase {
    const char* desc;
    std::string text;
    std::int32_t expected;
};
void PrintTo(const ResumeCase& c, std::ostream* os) {
    *os << c.desc;
}

class ResumeText : public testing::TestWithParam<ResumeCase> {};

TEST_P(ResumeText, ParsesTheLeadingNumber) {
    EXPECT_EQ(parseResumeText(GetParam().text), GetParam().expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Texts, ResumeText,
    testing::Values(ResumeCase{"plain", "12", 12}, ResumeCase{"spaces and CR LF", "  12\r\n", 12},
                    ResumeCase{"plus sign", "+7", 7}, ResumeCase{"negative", "-3", -3},
                    ResumeCase{"trailing letters", "12abc", 12},
                    ResumeCase{"only letters", "abc", 0}, ResumeCase{"empty", "", 0},
                    ResumeCase{"tab, vertical tab, form feed", "\t\v\f9", 9},
                    ResumeCase{"sign alone", "-", 0}, ResumeCase{"two signs", "+-5", 0},
                    ResumeCase{"space after the sign", "- 5", 0},
                    ResumeCase{"full-width one and two", "\xEF\xBC\x91\xEF\xBC\x92", 12},
                    ResumeCase{"full-width space before",
                               "\xE3\x80\x80"
                               "12",
                               12},
                    ResumeCase{"full-width minus",
                               "\xEF\xBC\x8D"
                               "4",
                               -4},
                    ResumeCase{"full-width plus",
                               "\xEF\xBC\x8B"
                               "4",
                               4},
                    ResumeCase{"full-width digits end at a half-width letter", "\xEF\xBC\x93x1", 3},
                    ResumeCase{"other multi-byte character is no space",
                               "\xC3\xA9"
                               "5",
                               0},
                    ResumeCase{"zero byte ends the text",
                               "1\0"
                               "2"s,
                               1},
                    ResumeCase{"UTF-8 byte-order mark",
                               "\xEF\xBB\xBF"
                               "5",
                               0},
                    ResumeCase{"stray continuation byte",
                               "\x80"
                               "5",
                               0},
                    ResumeCase{"truncated full-width digit", "\xEF\xBC", 0},
                    ResumeCase{"int32 max", "2147483647", INT32_MAX},
                    ResumeCase{"int32 min", "-2147483648", INT32_MIN},
                    ResumeCase{"saturates high", "2147483648", INT32_MAX},
                    ResumeCase{"saturates low", "-99999999999999999999999", INT32_MIN},
                    ResumeCase{"leading zeros", "007", 7}));

class ResumeFile : public testing::Test {
protected:
    test::TempDir dir;
    WorkingState state;
    void SetUp() override { state.runDirectory = dir.str(); }
    std::string stored() const {
        const auto bytes = test::readFile(resumePointPath(dir.str()));
        return {bytes.begin(), bytes.end()};
    }
};

TEST_F(ResumeFile, MissingFileOrFolderReadsZero) {
    EXPECT_EQ(readResumePoint(dir.str()), 0);
    std::filesystem::create_directory(resumePointPath(dir.str()));
    EXPECT_EQ(readResumePoint(dir.str()), 0);
}

TEST_F(ResumeFile, StoresTheSamplesMovedPast) {
    const struct {
        std::int32_t position;
        const char* stored;
    } cases[] = {{5, "4"},
                 {1, "0"},
                 {0, "0"},
                 {-3, "-3"},
                 {INT32_MIN, "-2147483648"},
                 {INT32_MAX, "2147483646"}};
    for (const auto& c : cases) {
        state.position = c.position;
        writeResumePoint(state);
        EXPECT_EQ(stored(), c.stored) << "position " << c.position;
        // what the tool writes reads back as written
        EXPECT_EQ(std::to_string(readResumePoint(dir.str())), c.stored);
    }
}

TEST_F(ResumeFile, WriteReplacesWholeFileAndLeavesNoTemporary) {
    dir.write("breakpoint.txt", std::string("123456789 old content"));
    state.position = 3;
    writeResumePoint(state);
    EXPECT_EQ(stored(), "2");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(ResumeFile, FailedWriteKeepsOldValueAndLeavesNothing) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    dir.write("breakpoint.txt", std::string("8"));
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    state.position = 2;
    writeResumePoint(state);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(stored(), "8");
}

}  // namespace
}  // namespace sorvane

namespace sorvane {
namespace {

TEST(ResumeFileWrite, MissingRunDirectoryWritesNothingAndDoesNotFail) {
    test::TempDir dir;
    WorkingState state;
    state.runDirectory = dir.str() + "/gone";
    state.position = 4;
    writeResumePoint(state);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "gone"));
    EXPECT_EQ(readResumePoint(state.runDirectory), 0);
}

}  // namespace
}  // namespace sorvane
