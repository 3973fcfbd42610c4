#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/files.h"
#include "support/temp_dir.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(Files, ExecutableDirectoryHasNoTrailingSeparator) {
    const std::string folder = files::executableDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_EQ(fs::path(folder), fs::canonical("/proc/self/exe").parent_path());
}

TEST(Files, ReadGivesWholeRegularFilesOnly) {
    test::TempDir dir;
    const std::string file = dir.write("a.bin", std::vector<std::uint8_t>{0, 1, 2, 255});
    EXPECT_EQ(files::readWholeFile(file), (files::Bytes{0, 1, 2, 255}));
    EXPECT_TRUE(files::readWholeFile(dir.write("empty", std::string())).empty());
    EXPECT_TRUE(files::readWholeFile(dir.str()).empty());
    EXPECT_TRUE(files::readWholeFile(dir.str() + "/missing").empty());
    EXPECT_TRUE(files::readWholeFile("").empty());
    // A FIFO with no writer would block a plain open; it must give empty bytes at once.
    const std::string fifo = dir.str() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(files::readWholeFile(fifo).empty());
    EXPECT_TRUE(files::readWholeFile("/dev/zero").empty());
    const std::string link = dir.str() + "/link";
    ASSERT_EQ(::symlink("a.bin", link.c_str()), 0);
    EXPECT_EQ(files::readWholeFile(link).size(), 4u);
}

TEST(Files, FilesOverTheLimitReadAsEmpty) {
    test::TempDir dir;
    const std::string sparse = dir.str() + "/huge.png";
    // A sparse file costs no disk, yet claims more than the limit.
    ASSERT_EQ(::truncate(dir.write("huge.png", std::string("x")).c_str(),
                         static_cast<off_t>(files::kMaxFileBytes) + 1),
              0);
    EXPECT_TRUE(files::readWholeFile(sparse).empty());
}

TEST(Files, WriteReplacesAtomicallyAndCleansUp) {
    test::TempDir dir;
    const std::string target = dir.write("out.bmp", std::string("old content that is long"));
    EXPECT_TRUE(files::writeWholeFile(target, std::string("new")));
    EXPECT_EQ(test::readFile(target), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(entriesIn(dir.path()), 1u);

    EXPECT_TRUE(files::writeWholeFile(target, std::string()));
    EXPECT_TRUE(test::readFile(target).empty());

    // Failures: no folder, a folder in the way, an empty path; none leaves a temporary behind.
    EXPECT_FALSE(files::writeWholeFile(dir.str() + "/missing/x.bmp", std::string("x")));
    fs::create_directory(dir.path() / "taken");
    dir.write("taken/inner", std::string("x"));
    EXPECT_FALSE(files::writeWholeFile(dir.str() + "/taken", std::string("x")));
    EXPECT_FALSE(files::writeWholeFile("", std::string("x")));
    EXPECT_EQ(entriesIn(dir.path()), 2u);
    EXPECT_TRUE(fs::is_directory(dir.path() / "taken"));
}

TEST(Files, NewFilesGetTheUsualPermissions) {
    test::TempDir dir;
    const mode_t old = ::umask(022);
    const std::string target = dir.str() + "/fresh.txt";
    ASSERT_TRUE(files::writeWholeFile(target, std::string("1")));
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(Files, MakeDirectoryPathCreatesEveryLevel) {
    test::TempDir dir;
    const std::string deep = dir.str() + "/a/b/c";
    EXPECT_TRUE(files::makeDirectoryPath(deep));
    EXPECT_TRUE(files::isDirectory(deep));
    EXPECT_TRUE(files::makeDirectoryPath(deep));  // all exist: still a success
    EXPECT_TRUE(files::makeDirectoryPath(deep + "/"));
    dir.write("file", std::string("x"));
    EXPECT_FALSE(files::makeDirectoryPath(dir.str() + "/file/sub"));
    EXPECT_FALSE(files::makeDirectoryPath(""));
}

TEST(Files, ExistenceAndDeletion) {
    test::TempDir dir;
    const std::string file = dir.write("f", std::string("x"));
    const std::string link = dir.str() + "/to-dir";
    ASSERT_EQ(::symlink(dir.str().c_str(), link.c_str()), 0);
    EXPECT_TRUE(files::pathExists(file));
    EXPECT_TRUE(files::pathExists(dir.str()));
    EXPECT_FALSE(files::isDirectory(file));
    EXPECT_TRUE(files::isDirectory(link));
    EXPECT_TRUE(files::deleteFile(file));
    EXPECT_FALSE(files::pathExists(file));
    EXPECT_FALSE(files::deleteFile(file));
    EXPECT_FALSE(files::deleteFile(dir.str()));
}

}  // namespace
}  // namespace sorvane
