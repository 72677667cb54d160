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

// An identity tells a file unchanged from one written in place (another size, another
// time of the last write) or replaced by another file of the same bytes and time.
TEST(FileIdentityTest, TellsWritesAndReplacementsApart) {
  TempDir dir;
  const std::wstring path = dir.File(L"f.ini");
  const auto identity = [](const std::wstring& file) {
    platform::FileIdentity id;
    EXPECT_TRUE(platform::QueryFileIdentity(file, &id).ok());
    return id;
  };
  EXPECT_FALSE(identity(path).exists);
  EXPECT_FALSE(identity(dir.File(L"no-folder") + platform::kPathSeparator + L"f.ini").exists);
  EXPECT_TRUE(identity(dir.Path()).isDirectory);

  const auto before = std::chrono::system_clock::now();
  WriteBytes(path, "[a]\r\nx=1\r\n");
  const platform::FileIdentity first = identity(path);
  EXPECT_TRUE(first.exists);
  EXPECT_FALSE(first.isDirectory);
  EXPECT_EQ(first.size, 10u);
  EXPECT_EQ(identity(path), first);
  // Nanoseconds since 1970, as the system clock counts (some file systems keep 2-second steps).
  const int64_t clock = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            before.time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(first.modifiedNs), static_cast<double>(clock), 3e9);

  // In place: longer, then as long again but written at another time.
  WriteBytes(path, "[a]\r\nx=12\r\n");
  EXPECT_NE(identity(path), first);
  WriteBytes(path, "[a]\r\nx=2\r\n");
  fs::last_write_time(FsPath(path), fs::last_write_time(FsPath(path)) - std::chrono::seconds(10));
  const platform::FileIdentity older = identity(path);
  EXPECT_EQ(older.size, first.size);
  EXPECT_NE(older, first);
  EXPECT_NEAR(static_cast<double>(first.modifiedNs - older.modifiedNs), 10e9, 3e9);

  // Replaced: the same bytes and time, but another file.
  const std::wstring other = dir.File(L"other.ini");
  WriteBytes(other, ReadBytes(path));
  fs::last_write_time(FsPath(other), fs::last_write_time(FsPath(path)));
  ASSERT_TRUE(platform::ReplaceFile(other, path).ok());
  const platform::FileIdentity replaced = identity(path);
  EXPECT_EQ(replaced.size, older.size);
  EXPECT_EQ(replaced.modifiedNs, older.modifiedNs);
  EXPECT_NE(replaced.fileId, older.fileId);
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
