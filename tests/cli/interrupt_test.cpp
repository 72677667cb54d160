// Ctrl+C during a conversion: ldic stops, writes no package and leaves no temporary file.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/utf.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

using lumo_test::FileExists;
using lumo_test::TempDir;

TEST(LdicInterrupt, NoPackageAndNoTemporaryFilesRemain) {
  TempDir dir;
  std::string list;
  for (long long i = 0; i < 300000; ++i)
    list += "word" + std::to_string(i * 7919 % 300007) + "\tan explanation of some length, number " +
            std::to_string(i) + "\n";
  lumo_test::WriteBytes(dir.File(L"w.txt"), list);
  const std::string input = WideToUtf8(dir.File(L"w.txt"));
  const std::string output = WideToUtf8(dir.File(L"w.ldic"));

  const char* args[] = {LDIC_PROGRAM, "convert", input.c_str(), "-o", output.c_str(), "--threads", "1",
                        nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, LDIC_PROGRAM, nullptr, nullptr, const_cast<char**>(args), environ), 0);

  // Interrupt once the data file exists: the worker is then past reading and would
  // otherwise go on to write the package.
  const std::wstring data = dir.File(L"LumoDictTemp.des");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!FileExists(data) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(FileExists(data)) << "the conversion never wrote its data file";
  ASSERT_EQ(kill(child, SIGINT), 0);

  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_FALSE(FileExists(dir.File(L"w.ldic")));
  EXPECT_FALSE(FileExists(dir.File(L"w.ldic.part")));
  EXPECT_FALSE(FileExists(data));
  EXPECT_FALSE(FileExists(dir.File(L"LumoDictTemp.des.dz")));
}

}  // namespace
