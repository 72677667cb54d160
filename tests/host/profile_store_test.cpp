// The profile store's contract, run against the Windows private-profile functions (under
// Wine) and against our own INI store: both must read the same values and write the same
// bytes.

#include "platform/profile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/utf.h"
#include "host/registration.h"
#include "platform/file_system.h"
#include "tests/support/host_fixtures.h"

namespace {

using host_test::WithDir;
using host_test::WithoutDir;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

constexpr char kReadFile[] =
    "; comment=1\r\n"
    "[General]\r\n"
    "Skin=blue\r\n"
    "[ dictionary ]\r\n"
    "  QueryDictNum = 12abc  \r\n"
    "queryfilename0=\"C:\\a b.ldic\"\r\n"
    "QueryFileName1='x'\r\n"
    "QueryFileName2=\"\r\n"
    "QueryChecked0=-3\r\n"
    "QueryChecked0=9\r\n"
    "QueryChecked1=+5\r\n"
    "QueryChecked2=abc\r\n"
    "QueryChecked3=\r\n"
    "[Dictionary]\r\n"
    "Later=1\r\n"
    "[Last]\r\n"
    "Tail=no line end";

TEST(ProfileStoreTest, ReadsAsThePrivateProfileFunctions) {
  TempDir dir;
  const std::wstring ini = dir.File(L"read.ini");
  WriteBytes(ini, kReadFile);
  const platform::CProfileStore store(ini);
  struct IntCase {
    const wchar_t* section;
    const wchar_t* key;
    int expected;
  };
  const IntCase ints[] = {
      {L"DICTIONARY", L"querydictnum", 12}, {L"Dictionary", L"QueryChecked0", -3},
      {L"Dictionary", L"QueryChecked1", 5}, {L"Dictionary", L"QueryChecked2", 0},
      {L"Dictionary", L"QueryChecked3", 77}, {L"Dictionary", L"QueryChecked4", 77},
      {L"Dictionary", L"Later", 77},  // only the first section of a name counts
      {L"General", L"Skin", 0},       {L"Missing", L"Skin", 77},
  };
  for (const IntCase& c : ints)
    EXPECT_EQ(store.GetProfileInt(c.section, c.key, 77), c.expected) << WideToUtf8(c.key);

  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName0", L""), L"C:\\a b.ldic");
  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName1", L""), L"x");
  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName2", L""), L"\"");
  EXPECT_EQ(store.GetProfileString(L"Dictionary", L"QueryFileName9", L"def"), L"def");
  EXPECT_EQ(store.GetProfileString(L"Last", L"Tail", L""), L"no line end");

  const platform::CProfileStore missing(dir.File(L"missing.ini"));
  EXPECT_EQ(missing.GetProfileInt(L"Dictionary", L"QueryDictNum", 0), 0);
  EXPECT_EQ(missing.GetProfileString(L"Dictionary", L"QueryFileName0", L""), L"");
}

TEST(ProfileStoreTest, LongValuesAreCutTo4095Characters) {
  TempDir dir;
  const std::wstring ini = dir.File(L"long.ini");
  WriteBytes(ini, "[S]\r\nk=" + std::string(5000, 'x') + "\r\n");
  EXPECT_EQ(platform::CProfileStore(ini).GetProfileString(L"S", L"k", L"").size(), 4095u);
}

struct WriteCase {
  const char* label;
  std::string start;  // "<none>": no file
  const wchar_t* section;
  const wchar_t* key;
  const wchar_t* value;
  std::string expected;
};

class ProfileWriteTest : public ::testing::TestWithParam<WriteCase> {};

// The profile store (under Wine the private-profile functions) and the INI document that
// registration writes through, on both systems, give the same bytes.
TEST_P(ProfileWriteTest, WritesTheBytesWindowsWrites) {
  const WriteCase& c = GetParam();
  for (const bool document : {false, true}) {
    TempDir dir;
    const std::wstring ini = dir.File(L"w.ini");
    if (c.start != "<none>") WriteBytes(ini, c.start);
    if (document) {
      platform::CIniDocument settings;
      ASSERT_TRUE(settings.Load(ini).ok());
      ASSERT_TRUE(settings.SetProfileString(c.section, c.key, c.value));
      ASSERT_TRUE(settings.Commit().ok());
    } else {
      ASSERT_TRUE(platform::CProfileStore(ini).WriteProfileString(c.section, c.key, c.value));
    }
    EXPECT_EQ(ReadBytes(ini), c.expected) << (document ? "document" : "profile store");
  }
}

const std::string kCanonical =
    "; LumoDict\r\n[Main]\r\nSkin=blue\r\n[Dictionary]\r\nQueryDictNum=1\r\n; end\r\n[Window]\r\nX=1\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWriteTest,
    ::testing::Values(
        WriteCase{"new_file", "<none>", L"Dictionary", L"QueryDictNum", L"1",
                  "[Dictionary]\r\nQueryDictNum=1\r\n"},
        WriteCase{"empty_file", "", L"Dictionary", L"QueryDictNum", L"1",
                  "[Dictionary]\r\nQueryDictNum=1\r\n"},
        WriteCase{"changed_key_keeps_place_and_spelling", kCanonical, L"dictionary", L"querydictnum",
                  L"2",
                  "; LumoDict\r\n[Main]\r\nSkin=blue\r\n[Dictionary]\r\nQueryDictNum=2\r\n; end\r\n"
                  "[Window]\r\nX=1\r\n"},
        WriteCase{"new_key_at_end_of_section", kCanonical, L"Dictionary", L"QueryFileName0",
                  L"C:\\a.ldic",
                  "; LumoDict\r\n[Main]\r\nSkin=blue\r\n[Dictionary]\r\nQueryDictNum=1\r\n; end\r\n"
                  "QueryFileName0=C:\\a.ldic\r\n[Window]\r\nX=1\r\n"},
        WriteCase{"new_section_at_end", kCanonical, L"Extra", L"K", L"v",
                  kCanonical + "[Extra]\r\nK=v\r\n"},
        WriteCase{"last_line_without_line_end", "[Dictionary]\r\nQueryDictNum=1", L"Dictionary",
                  L"QueryChecked0", L"1", "[Dictionary]\r\nQueryDictNum=1\r\nQueryChecked0=1\r\n"},
        WriteCase{"unicode_file_stays_unicode",
                  host_test::Utf16File("[Dictionary]\r\nQueryDictNum=1\r\n"), L"Dictionary",
                  L"QueryFileName0", L"D:\\词典\\a.ldic",
                  host_test::Utf16File("[Dictionary]\r\nQueryDictNum=1\r\nQueryFileName0=D:\\词典\\a.ldic\r\n")}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.label); });

// The document replaces only the file it read: when since Load another program wrote other
// bytes in place, renamed another file over it or removed it, nothing is replaced and the
// commit says so (kChanged), while the same bytes written again change nothing that the
// edit was made of.
TEST(IniDocumentTest, CommitsOnlyOverTheFileItRead) {
  const std::string read = "[Main]\r\nX=1\r\n";
  const std::string edited = "[Main]\r\nX=1\r\nY=2\r\n";
  struct Case {
    const char* label;
    const char* meanwhile;  // nullptr: the file is removed after it was read
    bool renamed;           // a new file renamed over it, rather than written in place
    bool committed;
  };
  const Case cases[] = {
      {"other_bytes_in_place", "[Main]\r\nX=3\r\n", false, false},
      {"other_bytes_renamed_over", "[Main]\r\nX=3\r\n", true, false},
      {"same_bytes_in_place", "[Main]\r\nX=1\r\n", false, true},
      {"same_bytes_renamed_over", "[Main]\r\nX=1\r\n", true, true},
      {"removed", nullptr, false, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::wstring ini = dir.File(L"s.ini");
    WriteBytes(ini, read);
    platform::CIniDocument document;
    ASSERT_TRUE(document.Load(ini).ok());
    ASSERT_TRUE(document.SetProfileString(L"Main", L"Y", L"2"));
    // Another time of the last write, as a write a moment later has on any file system.
    const auto later = std::filesystem::last_write_time(lumo_test::FsPath(ini)) + std::chrono::seconds(5);
    if (c.meanwhile == nullptr) {
      ASSERT_TRUE(platform::RemoveFile(ini).ok());
    } else {
      const std::wstring target = c.renamed ? dir.File(L"other.ini") : ini;
      WriteBytes(target, c.meanwhile);
      std::filesystem::last_write_time(lumo_test::FsPath(target), later);
      if (c.renamed) {
        ASSERT_TRUE(platform::ReplaceFile(target, ini).ok());
      }
    }
    const Status committed = document.Commit();
    EXPECT_EQ(committed.ok(), c.committed) << c.label;
    if (!c.committed) {
      EXPECT_EQ(committed.Kind(), StatusKind::kChanged) << c.label;
    }
    EXPECT_EQ(ReadBytes(ini), c.committed ? edited : std::string(c.meanwhile ? c.meanwhile : ""))
        << c.label;
  }
}

// A file emptied in place by its writer a moment ago is waited for; an empty file that
// stays so, or one written long ago, is empty.
TEST(IniDocumentTest, WaitsForAFileBeingWrittenInPlace) {
  TempDir dir;
  const std::wstring ini = dir.File(L"s.ini");
  const std::string full = "[Main]\r\nX=1\r\n";
  WriteBytes(ini, "");
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    WriteBytes(ini, full);
  });
  platform::CIniDocument document;
  const Status loaded = document.Load(ini);
  writer.join();
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(document.GetProfileInt(L"Main", L"X", 0), 1);
  EXPECT_EQ(document.Bytes(), full);

  for (const bool old : {false, true}) {
    WriteBytes(ini, "");
    if (old) {
      std::filesystem::last_write_time(lumo_test::FsPath(ini),
                                       std::filesystem::last_write_time(lumo_test::FsPath(ini)) -
                                           std::chrono::hours(1));
    }
    ASSERT_TRUE(document.Load(ini).ok()) << old;
    EXPECT_EQ(document.Bytes(), "") << old;
  }
}

TEST(ProfileStoreTest, RefusesWhatTheFileCannotHold) {
  TempDir dir;
  const std::wstring ini = dir.File(L"ansi.ini");
  WriteBytes(ini, "[Dictionary]\r\nQueryDictNum=1\r\n");
  platform::CProfileStore store(ini);
  const std::wstring emoji = Utf8ToWideText("C:\\\xF0\x9F\x98\x80.ldic");
  EXPECT_FALSE(store.CanStoreString(emoji));
  EXPECT_FALSE(store.WriteProfileString(L"Dictionary", L"QueryFileName0", emoji));
  EXPECT_EQ(ReadBytes(ini), "[Dictionary]\r\nQueryDictNum=1\r\n");
  EXPECT_TRUE(store.CanStoreString(L"C:\\plain.ldic"));
}

class CNullSink : public IWarningSink {
 public:
  void ShowWarning(UserMessage, const Status&) override {}
};

// A sequence of registrations into a hand-written settings file gives the bytes the
// profile functions write, on both systems.
TEST(ProfileStoreTest, RegistrationsGiveTheSameFileOnBothStores) {
  TempDir dir;
  for (const wchar_t* name : {L"a.ldic", L"b.ldic", L"c.ldic"})
    host_test::WritePackage(host_test::ListedPath(dir, name), name[0]);
  const std::wstring ini = dir.File(L"LumoDict.ini");
  WriteBytes(ini, WithDir(dir,
                          "; LumoDict settings\r\n"
                          "[Main]\r\n"
                          "Skin=Default\r\n"
                          "[Dictionary]\r\n"
                          "QueryDictNum=3\r\n"
                          "QueryFileName0=<DIR>\\a.ldic\r\n"
                          "QueryChecked0=1\r\n"
                          "QueryFileName1=C:\\gone\\old.ldic\r\n"
                          "QueryChecked1=1\r\n"
                          "QueryFileName2=http://dict.example.com/\r\n"
                          "QueryChecked2=0\r\n"
                          "; keep me\r\n"
                          "[Window]\r\n"
                          "Left=10\r\n"));
  CNullSink sink;
  for (const wchar_t* name : {L"b.ldic", L"c.ldic", L"b.ldic"})
    EXPECT_EQ(RegisterPackage(sink, host_test::ListedPath(dir, name), ini),
              RegisterOutcome::kRegistered);
  EXPECT_EQ(WithoutDir(dir, ReadBytes(ini)),
            "; LumoDict settings\r\n"
            "[Main]\r\n"
            "Skin=Default\r\n"
            "[Dictionary]\r\n"
            "QueryDictNum=4\r\n"
            "QueryFileName0=<DIR>\\a.ldic\r\n"
            "QueryChecked0=1\r\n"
            "QueryFileName1=http://dict.example.com/\r\n"
            "QueryChecked1=0\r\n"
            "QueryFileName2=<DIR>\\c.ldic\r\n"
            "QueryChecked2=1\r\n"
            "; keep me\r\n"
            "QueryFileName3=<DIR>\\b.ldic\r\n"
            "QueryChecked3=1\r\n"
            "[Window]\r\n"
            "Left=10\r\n");
}

}  // namespace
