#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "samples/folder_scan.h"
#include "support/temp_dir.h"

namespace sorvane {
namespace {

struct Found {
    std::vector<std::string> names;
    std::vector<std::string> paths;
};

Found scan(const std::string& folder, const std::string& extension = "", bool recursive = true) {
    Found found;
    scanFolder(folder, extension, recursive, [&](const std::string& name, const std::string& path) {
        found.names.push_back(name);
        found.paths.push_back(path);
    });
    return found;
}

std::vector<std::string> relative(const Found& found, const std::string& root) {
    std::vector<std::string> out;
    for (const auto& path : found.paths) {
        out.push_back(path.substr(root.size() + 1));
    }
    return out;
}

TEST(NaturalOrder, SortsLikeAPerson) {
    std::vector<std::string> names = {"a_10.png", "a_2.png",   "B_1.png", "a_1.png", "A_1.png",
                                      "a_01.png", "_x.png",    "ab.png",  "a.png",   "10",
                                      "9",        "x\xC3\xA9", "xz"};
    std::sort(names.begin(), names.end(), naturalLess);
    const std::vector<std::string> expected = {
        "9",       "10",       "_x.png", "a.png",   "A_1.png", "a_01.png", "a_1.png",
        "a_2.png", "a_10.png", "ab.png", "B_1.png", "xz",      "x\xC3\xA9"};
    EXPECT_EQ(names, expected);
}

TEST(NaturalOrder, SortingAgreesWithTheComparison) {
    std::vector<std::string> names;
    const char* pieces[] = {"a", "B", "0", "01", "1", "10", "9", "_", ".", "z", "\xC3\xA9"};
    for (const char* x : pieces) {
        for (const char* y : pieces) {
            for (const char* z : pieces) {
                names.push_back(std::string(x) + y + z);
            }
        }
    }
    std::vector<std::string> expected = names;
    std::stable_sort(expected.begin(), expected.end(), naturalLess);
    sortNaturally(names);
    EXPECT_EQ(names, expected);
}

TEST(NaturalOrder, DigitRunsAgainstOtherBytes) {
    const struct {
        const char* less;
        const char* more;
    } pairs[] = {{"a2b", "a10"}, {"x", "x0"},    {"x0", "x00"},       {"x00", "x1"},
                 {"a-1", "a1"},  {"a.1", "a_1"}, {"a1", "a1a"},       {"a9z", "a10"},
                 {"A1", "a01"},  {"a01", "a1"},  {"img99", "img100"}, {"a1b2", "a1b10"},
                 {"a", "a\x80"}, {"0", "a"},     {"1/", "1a"},        {"z9", "z:"}};
    for (const auto& pair : pairs) {
        EXPECT_TRUE(naturalLess(pair.less, pair.more)) << pair.less << " < " << pair.more;
        EXPECT_FALSE(naturalLess(pair.more, pair.less)) << pair.more << " < " << pair.less;
    }
}

TEST(NaturalOrder, IsAStrictWeakOrder) {
    const std::vector<std::string> names = {"a1", "a01", "A1", "a001b", "a1b", "a", "", "0", "00"};
    for (const auto& a : names) {
        EXPECT_FALSE(naturalLess(a, a)) << a;
        for (const auto& b : names) {
            if (a != b) {
                EXPECT_NE(naturalLess(a, b), naturalLess(b, a)) << a << " vs " << b;
            }
        }
    }
}

TEST(ScanFolder, FilesFirstThenSubfoldersInPreOrder) {
    test::TempDir dir;
    const std::string root = dir.str() + "/s";
    for (const char* file :
         {"s/b_2.png", "s/b_10.png", "s/A_1.jpg", "s/sub10/z.png", "s/sub2/y.png",
          "s/sub2/deeper/x.png", "s/sub2/w.png", "s/.hidden_1.png", "s/.hiddendir/h.png"}) {
        dir.write(file, std::string("x"));
    }
    const auto found = scan(root);
    const std::vector<std::string> expected = {".hidden_1.png", "A_1.jpg",           "b_2.png",
                                               "b_10.png",      ".hiddendir/h.png",  "sub2/w.png",
                                               "sub2/y.png",    "sub2/deeper/x.png", "sub10/z.png"};
    EXPECT_EQ(relative(found, root), expected);
    EXPECT_EQ(found.names.front(), ".hidden_1.png");
    EXPECT_EQ(found.names.back(), "z.png");
}

TEST(ScanFolder, SeparatorIsAddedOnlyWhenMissing) {
    test::TempDir dir;
    dir.write("s/a.png", std::string("x"));
    EXPECT_EQ(scan(dir.str() + "/s").paths, std::vector<std::string>{dir.str() + "/s/a.png"});
    EXPECT_EQ(scan(dir.str() + "/s/").paths, std::vector<std::string>{dir.str() + "/s/a.png"});
}

TEST(ScanFolder, ExtensionMatchesWithoutRegardToCase) {
    test::TempDir dir;
    for (const char* file : {"a.PNG", "b.png", "c.jpg", "png", "d.xpng", "sub/e.Png"}) {
        dir.write(file, std::string("x"));
    }
    EXPECT_EQ(scan(dir.str(), "png").names, (std::vector<std::string>{"a.PNG", "b.png", "e.Png"}));
    EXPECT_EQ(scan(dir.str(), "*", false).names.size(), 5u);
    EXPECT_EQ(scan(dir.str(), "png", false).names.size(), 2u);
}

TEST(ScanFolder, OnlyRegularFilesAreSamples) {
    test::TempDir dir;
    const std::string root = dir.str();
    dir.write("real.png", std::string("x"));
    ASSERT_EQ(::mkfifo((root + "/pipe.png").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("real.png", (root + "/link.png").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere.png", (root + "/broken.png").c_str()), 0);
    std::filesystem::create_directory(root + "/emptydir");
    EXPECT_EQ(scan(root).names, (std::vector<std::string>{"link.png", "real.png"}));
}

TEST(ScanFolder, MissingOrUnreadableFoldersContributeNothing) {
    test::TempDir dir;
    EXPECT_TRUE(scan(dir.str() + "/missing").names.empty());
    dir.write("file.png", std::string("x"));
    EXPECT_TRUE(scan(dir.str() + "/file.png").names.empty());
    EXPECT_TRUE(scan("   ").names.empty());
    if (::geteuid() != 0) {  // root reads any folder
        dir.write("locked/a.png", std::string("x"));
        dir.write("open/b.png", std::string("x"));
        ::chmod((dir.str() + "/locked").c_str(), 0);
        EXPECT_EQ(scan(dir.str()).names, (std::vector<std::string>{"file.png", "b.png"}));
    }
}

TEST(ScanFolder, LinkCyclesEndWithoutRepeatingTheTree) {
    test::TempDir dir;
    const std::string root = dir.str() + "/s";
    dir.write("s/a.png", std::string("x"));
    dir.write("s/sub/b.png", std::string("x"));
    ASSERT_EQ(::symlink("..", (root + "/sub/up").c_str()), 0);   // back to s
    ASSERT_EQ(::symlink(".", (root + "/sub/self").c_str()), 0);  // to itself
    ASSERT_EQ(::symlink("sub", (root + "/again").c_str()), 0);   // a second way into sub
    const auto found = scan(root);
    // "again" is a sibling of sub, not its ancestor, so it is walked once; the cycles are not.
    EXPECT_EQ(relative(found, root),
              (std::vector<std::string>{"a.png", "again/b.png", "sub/b.png"}));
}

TEST(ScanFolder, AfterSubfolderRunsBetweenSubfoldersAndCanStop) {
    test::TempDir dir;
    for (const char* file : {"s/a.png", "s/one/b.png", "s/two/c.png", "s/three/d.png"}) {
        dir.write(file, std::string("x"));
    }
    std::vector<std::string> seen;
    int pauses = 0;
    const bool completed = scanFolder(
        dir.str() + "/s", "", true,
        [&](const std::string& name, const std::string&) { seen.push_back(name); },
        [&] { return ++pauses < 2; });
    EXPECT_FALSE(completed);
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(seen, (std::vector<std::string>{"a.png", "b.png", "d.png"}));  // one, three
}

TEST(FindEntry, ListsAdmittedEntriesThenClosesTheHandle) {
    test::TempDir dir;
    dir.write("f/x.png", std::string("x"));
    dir.write("f/sub/y.png", std::string("x"));
    SearchHandle handle;
    EXPECT_EQ(findEntry(dir.str() + "/f/*.*", kFileEntries, handle), "x.png");
    EXPECT_EQ(findEntry("", kFileEntries, handle), "");
    EXPECT_EQ(findEntry(dir.str() + "/f/*.*", kFolderEntries, handle), "sub");
    EXPECT_EQ(findEntry("", kFolderEntries, handle), "");
    SearchHandle none;
    EXPECT_EQ(findEntry("", kFileEntries, none), "");
    EXPECT_EQ(findEntry(dir.str() + "/missing/*.*", kFileEntries, none), "");
    EXPECT_FALSE(none.isOpen());
}

}  // namespace
}  // namespace sorvane
