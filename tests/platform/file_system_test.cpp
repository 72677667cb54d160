// File status, existence, deletion, replacement and the current directory.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using lumo_test::FsPath;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WidePath;
using lumo_test::WriteBytes;

TEST(FileStatusTest, SizeAndKindOfFilesAndFolders) {
  TempDir dir;
  for (size_t size : {size_t{0}, size_t{5}, size_t{70000}}) {
    SCOPED_TRACE(size);
    WriteBytes(dir.File(L"f.bin"), std::string(size, 'a'));
    platform::FileStatus status;
    ASSERT_TRUE(platform::QueryFileStatus(dir.File(L"f.bin"), &status));
    EXPECT_EQ(status.size, size);
    EXPECT_FALSE(status.isDirectory);
  }
  platform::FileStatus status;
  ASSERT_TRUE(platform::QueryFileStatus(dir.Path(), &status));
  EXPECT_TRUE(status.isDirectory);
  EXPECT_FALSE(platform::QueryFileStatus(dir.File(L"missing"), &status));
  EXPECT_FALSE(platform::QueryFileStatus(L"", &status));
}

TEST(FileStatusTest, ModificationTimeIsUnixSeconds) {
  TempDir dir;
  const std::wstring path = dir.File(L"f.txt");
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  WriteBytes(path, "x");
  const int64_t after = static_cast<int64_t>(std::time(nullptr));

  platform::FileStatus fresh;
  ASSERT_TRUE(platform::QueryFileStatus(path, &fresh));
  // Some file systems keep times in 2-second steps.
  EXPECT_GE(fresh.modifiedTime, before - 2);
  EXPECT_LE(fresh.modifiedTime, after + 2);

  // Moving the time back by ten days must move the reported time by exactly that much.
  constexpr int64_t kTenDays = 10 * 24 * 3600;
  fs::last_write_time(FsPath(path), fs::last_write_time(FsPath(path)) -
                                          std::chrono::seconds(kTenDays));
  platform::FileStatus older;
  ASSERT_TRUE(platform::QueryFileStatus(path, &older));
  EXPECT_NEAR(static_cast<double>(fresh.modifiedTime - older.modifiedTime),
              static_cast<double>(kTenDays), 2.0);
}

TEST(PathExistsTest, FilesAndFoldersExistOthersDoNot) {
  TempDir dir;
  WriteBytes(dir.File(L"f.txt"), "x");
  fs::create_directory(FsPath(dir.File(L"sub")));
  EXPECT_TRUE(platform::PathExists(dir.File(L"f.txt")));
  EXPECT_TRUE(platform::PathExists(dir.File(L"sub")));
  EXPECT_TRUE(platform::PathExists(dir.Path()));
  EXPECT_FALSE(platform::PathExists(dir.File(L"missing.txt")));
  EXPECT_FALSE(platform::PathExists(L""));
}

TEST(RemoveFileTest, RemovesFilesOnly) {
  TempDir dir;
  WriteBytes(dir.File(L"f.txt"), "x");
  fs::create_directory(FsPath(dir.File(L"sub")));
  EXPECT_TRUE(platform::RemoveFile(dir.File(L"f.txt")));
  EXPECT_FALSE(platform::PathExists(dir.File(L"f.txt")));
  EXPECT_FALSE(platform::RemoveFile(dir.File(L"f.txt")));
  EXPECT_FALSE(platform::RemoveFile(dir.File(L"sub")));
  EXPECT_TRUE(platform::PathExists(dir.File(L"sub")));
}

TEST(ReplaceFileTest, MovesOverExistingFileAndToNewName) {
  TempDir dir;
  WriteBytes(dir.File(L"new.tmp"), "new package");
  WriteBytes(dir.File(L"dict.ldic"), "old package, longer than the new one");
  ASSERT_TRUE(platform::ReplaceFile(dir.File(L"new.tmp"), dir.File(L"dict.ldic")));
  EXPECT_EQ(ReadBytes(dir.File(L"dict.ldic")), "new package");
  EXPECT_FALSE(platform::PathExists(dir.File(L"new.tmp")));

  WriteBytes(dir.File(L"second.tmp"), "second");
  ASSERT_TRUE(platform::ReplaceFile(dir.File(L"second.tmp"), dir.File(L"\u5b57\u5178.ldic")));
  EXPECT_EQ(ReadBytes(dir.File(L"\u5b57\u5178.ldic")), "second");
}

TEST(ReplaceFileTest, MissingSourceLeavesDestinationAsItWas) {
  TempDir dir;
  WriteBytes(dir.File(L"dict.ldic"), "earlier package");
  EXPECT_FALSE(platform::ReplaceFile(dir.File(L"missing.tmp"), dir.File(L"dict.ldic")));
  EXPECT_EQ(ReadBytes(dir.File(L"dict.ldic")), "earlier package");
}

// Restores the process's current directory after each test, so that a failure cannot
// leave the other tests in a folder that is about to be removed.
class CurrentDirectoryTest : public testing::Test {
 protected:
  void SetUp() override { m_saved = fs::current_path(); }
  void TearDown() override { fs::current_path(m_saved); }
  fs::path m_saved;
};

TEST_F(CurrentDirectoryTest, ChangeAndReadBack) {
  TempDir dir;
  for (const std::wstring& name : {std::wstring(L"plain"), std::wstring(L"\u8bcd\u5e93 x")}) {
    const std::wstring folder = dir.File(name);
    fs::create_directory(FsPath(folder));
    ASSERT_TRUE(platform::ChangeDirectory(folder));
    const std::wstring current = platform::CurrentDirectory();
    ASSERT_FALSE(current.empty());
    EXPECT_NE(current.back(), platform::kPathSeparator);
    // The temporary folder may be reached through a link; compare the folders themselves.
    EXPECT_TRUE(fs::equivalent(FsPath(current), FsPath(folder)));
    EXPECT_EQ(WidePath(FsPath(current).filename()), name);
  }
}

TEST_F(CurrentDirectoryTest, RefusedChangeKeepsTheCurrentDirectory) {
  TempDir dir;
  ASSERT_TRUE(platform::ChangeDirectory(dir.Path()));
  const std::wstring before = platform::CurrentDirectory();
  EXPECT_FALSE(platform::ChangeDirectory(dir.File(L"missing")));
  EXPECT_FALSE(platform::ChangeDirectory(L""));
  WriteBytes(dir.File(L"f.txt"), "x");
  EXPECT_FALSE(platform::ChangeDirectory(dir.File(L"f.txt")));
  EXPECT_EQ(platform::CurrentDirectory(), before);
}

TEST_F(CurrentDirectoryTest, RootKeepsItsSeparator) {
  const fs::path root = FsPath(platform::CurrentDirectory()).root_path();
  ASSERT_TRUE(platform::ChangeDirectory(WidePath(root)));
  const std::wstring current = platform::CurrentDirectory();
  EXPECT_EQ(current, WidePath(root));
  EXPECT_EQ(current.back(), platform::kPathSeparator);
}

}  // namespace
