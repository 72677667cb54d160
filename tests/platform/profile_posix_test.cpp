// Our own INI store keeps every byte it does not change. (Wine's private-profile functions
// rewrite the whole file in a normalised form, so these run on the POSIX store only.)

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

struct KeepCase {
  const char* label;
  std::string start;
  const wchar_t* key;
  const wchar_t* value;
  std::string expected;
};

TEST(PosixProfileStoreTest, KeepsEveryLineItDoesNotChange) {
  const std::string start =
      "\r\n; top\r\n\r\n[Main]\r\n  Skin = blue  \r\nFoo=1\n\r\n[Dictionary]\r\nQueryDictNum = 2\r\n"
      "QueryFileName0=C:\\a.ldic\n\r\n\r\n[Window]\r\nX=1";
  const KeepCase cases[] = {
      {"changed_key", start, L"QueryDictNum", L"3",
       "\r\n; top\r\n\r\n[Main]\r\n  Skin = blue  \r\nFoo=1\n\r\n[Dictionary]\r\nQueryDictNum=3\r\n"
       "QueryFileName0=C:\\a.ldic\n\r\n\r\n[Window]\r\nX=1"},
      {"changed_lf_line_keeps_lf", start, L"QueryFileName0", L"D:\\b.ldic",
       "\r\n; top\r\n\r\n[Main]\r\n  Skin = blue  \r\nFoo=1\n\r\n[Dictionary]\r\nQueryDictNum = 2\r\n"
       "QueryFileName0=D:\\b.ldic\n\r\n\r\n[Window]\r\nX=1"},
      {"new_key_before_blank_lines", start, L"QueryChecked0", L"1",
       "\r\n; top\r\n\r\n[Main]\r\n  Skin = blue  \r\nFoo=1\n\r\n[Dictionary]\r\nQueryDictNum = 2\r\n"
       "QueryFileName0=C:\\a.ldic\nQueryChecked0=1\r\n\r\n\r\n[Window]\r\nX=1"},
      {"unchanged_value_leaves_file", start, L"QueryDictNum", L"2", start},
      {"bytes_outside_the_code_page_kept", "[Dictionary]\r\nJunk=\xFF\xFE\x80\r\nQueryDictNum=1\r\n",
       L"QueryDictNum", L"2", "[Dictionary]\r\nJunk=\xFF\xFE\x80\r\nQueryDictNum=2\r\n"},
      {"missing_section_after_text_without_line_end", "[Window]\r\nX=1", L"QueryDictNum", L"1",
       "[Window]\r\nX=1\r\n[Dictionary]\r\nQueryDictNum=1\r\n"},
  };
  for (const KeepCase& c : cases) {
    TempDir dir;
    const std::wstring ini = dir.File(L"keep.ini");
    WriteBytes(ini, c.start);
    platform::CProfileStore store(ini);
    ASSERT_TRUE(store.WriteProfileString(L"Dictionary", c.key, c.value)) << c.label;
    EXPECT_EQ(ReadBytes(ini), c.expected) << c.label;
  }
}

TEST(PosixProfileStoreTest, UnreadableFileIsNotOverwritten) {
  TempDir dir;
  // A folder where the settings file should be: neither read nor replaced.
  platform::CProfileStore store(dir.Path());
  EXPECT_FALSE(store.WriteProfileString(L"Dictionary", L"QueryDictNum", L"1"));
  EXPECT_EQ(store.GetProfileInt(L"Dictionary", L"QueryDictNum", 7), 7);
}

}  // namespace

#include <cstdlib>

#include "platform/settings_location.h"

namespace {

// Sets or clears an environment variable for one scope.
class CScopedEnv {
 public:
  CScopedEnv(const char* name, const char* value) : m_name(name) {
    const char* old = std::getenv(name);
    m_had = old != nullptr;
    if (m_had) m_old = old;
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~CScopedEnv() {
    if (m_had) ::setenv(m_name, m_old.c_str(), 1); else ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  bool m_had = false;
  std::string m_old;
};

TEST(PosixSettingsLocationTest, AppDataThenXdgThenHome) {
  struct Case {
    const char* appData;
    const char* xdg;
    const char* home;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"/w/appdata", "/w/xdg", "/w/home", L"/w/appdata/Norvane/LumoDict/LumoDict.ini"},
      {"", "/w/xdg/", "/w/home", L"/w/xdg/Norvane/LumoDict/LumoDict.ini"},
      {nullptr, nullptr, "/w/home", L"/w/home/.config/Norvane/LumoDict/LumoDict.ini"},
      {nullptr, nullptr, nullptr, L""},
  };
  for (const Case& c : cases) {
    CScopedEnv appData("APPDATA", c.appData);
    CScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    CScopedEnv home("HOME", c.home);
    EXPECT_EQ(platform::LumoDictSettingsPath(), c.expected);
  }
}

}  // namespace
