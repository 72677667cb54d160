// ldic register: arguments, refusals and exit status.

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/settings_location.h"
#include "tests/support/host_fixtures.h"

namespace {

using lumo_test::TempDir;

int RunRegister(std::vector<std::string> args) {
  args.insert(args.begin(), "register");
  return RunLdic(std::move(args));
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

  EXPECT_EQ(RunRegister({}), 2);
  EXPECT_EQ(RunRegister({package, "--ini"}), 2);
  EXPECT_EQ(RunRegister({package, "--bogus"}), 2);
  EXPECT_EQ(RunRegister({package, copy, "--ini", ini}), 2);
  // No settings file: refused, and none is created.
  EXPECT_EQ(RunRegister({package, "--ini", missingIni}), 1);
  EXPECT_FALSE(lumo_test::FileExists(Utf8ToWideText(missingIni)));
  // Not a package: refused before the settings are touched.
  EXPECT_EQ(RunRegister({WideToUtf8(dir.File(L"junk.ldic")), "--ini", ini}), 1);
  EXPECT_EQ(RunRegister({WideToUtf8(dir.File(L"none.ldic")), "--ini", ini}), 1);
  EXPECT_EQ(lumo_test::ReadBytes(Utf8ToWideText(ini)), "[Main]\r\nSkin=1\r\n");

  EXPECT_EQ(RunRegister({package, "--ini", ini}), 0);
  const platform::CProfileStore store(Utf8ToWideText(ini));
  EXPECT_EQ(store.GetProfileInt(L"Dictionary", L"QueryDictNum", 0), 1);
  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName0", L""), Utf8ToWideText(package));
  EXPECT_EQ(RunRegister({copy, "--ini", ini}), 1);  // the same package under another path
  EXPECT_EQ(RunRegister({package, "--ini", ini}), 0);

  // A full disk is told as such, as by every command, and the settings stay as they were.
  const std::string before = lumo_test::ReadBytes(Utf8ToWideText(ini));
  host_test::WritePackage(dir.File(L"second.ldic"), 2);
  ::testing::internal::CaptureStderr();
  int status;
  {
    lumo_test::DiskFullAfter full(dir.Path(), 0);
    status = RunRegister({WideToUtf8(dir.File(L"second.ldic")), "--ini", ini});
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.rfind(std::string("ldic: ") + UserMessageUtf8(UserMessage::kDiskFull) + " \u2014 ", 0), 0u) << err;
  EXPECT_EQ(lumo_test::ReadBytes(Utf8ToWideText(ini)), before);
}

TEST(SettingsLocationTest, EndsWithLumoDictsFolders) {
  const std::wstring path = platform::LumoDictSettingsPath();
  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring tail = sep + L"Norvane" + sep + L"LumoDict" + sep + L"LumoDict.ini";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_TRUE(path.ends_with(tail)) << WideToUtf8(path);
}

}  // namespace
