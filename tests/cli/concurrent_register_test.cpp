// Many ldic register at once on one settings file, each with a package of its own, as
// scripts run them: every registration is listed afterwards and every line that is not
// part of the list is as it was.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "common/utf.h"
#include "platform/profile.h"
#include "tests/cli/program_run.h"
#include "tests/support/host_fixtures.h"

namespace {

using lumo_test::TempDir;

#ifdef _WIN32
constexpr int kProcesses = 5;  // Wine starts a process slowly
constexpr int kRounds = 3;
#else
constexpr int kProcesses = 20;
constexpr int kRounds = 10;
#endif

// The file's lines without those of the list.
std::string WithoutList(const std::string& text) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("QueryDictNum=") && !line.starts_with("QueryFileName") &&
        !line.starts_with("QueryChecked"))
      kept += line + "\n";
  return kept;
}

TEST(LdicRegister, ConcurrentRegistrationsAreAllListed) {
  TempDir dir;
  const std::wstring ini = dir.File(L"LumoDict.ini");
  const std::wstring kept = dir.File(L"kept.ldic");
  host_test::WritePackage(kept, 1000);
  std::set<std::wstring> packages;
  for (int i = 0; i < kProcesses; ++i) {
    const std::wstring package = dir.File(L"p" + std::to_wstring(i) + L".ldic");
    host_test::WritePackage(package, static_cast<uint32_t>(i + 1));
    packages.insert(package);
    std::filesystem::create_directory(lumo_test::FsPath(dir.File(L"out" + std::to_wstring(i))));
  }
  const std::string start =
      "; LumoDict\r\n[Main]\r\nSkin=blue\r\n\r\n[Dictionary]\r\nQueryDictNum=1\r\nQueryFileName0=" +
      WideToUtf8(kept) + "\r\nQueryChecked0=0\r\nFont=9\r\n\r\n[Window]\r\nX=1\r\n";

  for (int round = 0; round < kRounds; ++round) {
    lumo_test::WriteBytes(ini, start);
    std::vector<cli_test::ProgramResult> results(kProcesses);
    std::vector<std::thread> runs;
    for (int i = 0; i < kProcesses; ++i) {
      runs.emplace_back([&, i] {
        const std::wstring n = std::to_wstring(i);
        const std::string package = WideToUtf8(dir.File(L"p" + n + L".ldic"));
        results[i] = cli_test::RunProgram(LDIC_PROGRAM,
                                          {"register", "-q", package, "--ini", WideToUtf8(ini)},
                                          std::nullopt, dir.File(L"out" + n));
      });
    }
    for (std::thread& run : runs) run.join();
    for (const cli_test::ProgramResult& r : results) EXPECT_EQ(r.status, 0) << r.err;

    const platform::CProfileStore store(ini);
    ASSERT_EQ(store.GetProfileInt(L"Dictionary", L"QueryDictNum", 0), kProcesses + 1) << round;
    EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName0", L""), kept);
    EXPECT_EQ(store.GetProfileInt(L"Dictionary", L"QueryChecked0", -1), 0);
    std::set<std::wstring> listed;
    for (int m = 1; m <= kProcesses; ++m) {
      const std::wstring number = std::to_wstring(m);
      listed.insert(store.GetProfileString(L"Dictionary", L"QueryFileName" + number, L""));
      EXPECT_EQ(store.GetProfileInt(L"Dictionary", L"QueryChecked" + number, -1), 1);
    }
    EXPECT_EQ(listed, packages) << "round " << round;
    EXPECT_EQ(WithoutList(lumo_test::ReadBytes(ini)), WithoutList(start)) << "round " << round;
  }
}

}  // namespace
