// The lock between processes, keyed by the file rather than by its spelling.

#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <thread>

#include "common/utf.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::TempDir;

// While the lock is held through ini, Lock through each other spelling of the same file
// waits until it is let go; a lock for another file does not wait.
TEST(FileLock, EverySpellingOfOneFileSharesOneLock) {
  TempDir dir;
  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring ini = dir.File(L"LumoDict.ini");
  lumo_test::WriteBytes(ini, "[Main]\r\n");
  std::filesystem::create_directory(lumo_test::FsPath(dir.File(L"sub")));
  std::vector<std::wstring> spellings = {dir.File(L"sub") + sep + L".." + sep + L"LumoDict.ini"};
#ifdef _WIN32
  std::wstring upper = ini;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  spellings.push_back(upper);
#else
  std::filesystem::create_symlink(lumo_test::FsPath(ini), lumo_test::FsPath(dir.File(L"link.ini")));
  spellings.push_back(dir.File(L"link.ini"));
#endif
  for (const std::wstring& spelling : spellings) {
    platform::CFileLock held;
    ASSERT_TRUE(held.Lock(ini).ok());
    std::atomic<bool> taken{false};
    std::thread other([&] {
      platform::CFileLock lock;
      EXPECT_TRUE(lock.Lock(spelling).ok());
      taken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(taken) << WideToUtf8(spelling);
    held.Unlock();
    other.join();
    EXPECT_TRUE(taken) << WideToUtf8(spelling);

    ASSERT_TRUE(held.Lock(ini).ok());
    std::thread unrelated([&] {
      platform::CFileLock lock;
      EXPECT_TRUE(lock.Lock(dir.File(L"other.ini")).ok());
    });
    unrelated.join();  // would wait 30 s if the two files shared a lock
  }
}

}  // namespace
