// ldic register: arguments, refusals and exit status.

#include <gtest/gtest.h>

#include <cstdio>

#include "common/utf.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/settings_location.h"
#include "tests/host/host_test_support.h"

int RunRegisterCommand(int argc, char** argv);

namespace {

using lumo_test::TempDir;

int RunLdic(std::vector<std::string> args) {
  args.insert(args.begin(), "register");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return RunRegisterCommand(static_cast<int>(args.size()), argv.data());
}

TEST(RegisterCommandTest, ExitStatusFollowsTheOutcome) {
  TempDir dir;
  const std::string package = WideToUtf8(dir.File(L"words.ldic"));
  const std::string copy = WideToUtf8(dir.File(L"copy.ldic"));
  const std::string ini = WideToUtf8(dir.File(L"LumoDict.ini"));
  const std::string missingIni = WideToUtf8(dir.File(L"missing.ini"));
  host_test::WritePackage(Utf8ToWideText(package), 1);
  lumo_test::WriteBytes(Utf8ToWideText(copy), lumo_test::ReadBytes(Utf8ToWideText(package)));
  lumo_test::WriteBytes(dir.File(L"junk.ldic"), "junk");
  lumo_test::WriteBytes(Utf8ToWideText(ini), "[Main]\r\nSkin=1\r\n");

  EXPECT_EQ(RunLdic({}), 2);
  EXPECT_EQ(RunLdic({package, "--ini"}), 2);
  EXPECT_EQ(RunLdic({package, "--bogus"}), 2);
  EXPECT_EQ(RunLdic({package, copy, "--ini", ini}), 2);
  // No settings file: refused, and none is created.
  EXPECT_EQ(RunLdic({package, "--ini", missingIni}), 1);
  EXPECT_FALSE(lumo_test::FileExists(Utf8ToWideText(missingIni)));
  // Not a package: refused before the settings are touched.
  EXPECT_EQ(RunLdic({WideToUtf8(dir.File(L"junk.ldic")), "--ini", ini}), 1);
  EXPECT_EQ(RunLdic({WideToUtf8(dir.File(L"none.ldic")), "--ini", ini}), 1);
  EXPECT_EQ(lumo_test::ReadBytes(Utf8ToWideText(ini)), "[Main]\r\nSkin=1\r\n");

  EXPECT_EQ(RunLdic({package, "--ini", ini}), 0);
  const platform::CProfileStore store(Utf8ToWideText(ini));
  EXPECT_EQ(store.GetProfileInt(L"Dictionary", L"QueryDictNum", 0), 1);
  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName0", L""), Utf8ToWideText(package));
  EXPECT_EQ(RunLdic({copy, "--ini", ini}), 1);  // the same package under another path
  EXPECT_EQ(RunLdic({package, "--ini", ini}), 0);
}

TEST(SettingsLocationTest, EndsWithLumoDictsFolders) {
  const std::wstring path = platform::LumoDictSettingsPath();
  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring tail = sep + L"Norvane" + sep + L"LumoDict" + sep + L"LumoDict.ini";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_TRUE(path.ends_with(tail)) << WideToUtf8(path);
}

}  // namespace
