#include "host/registration.h"

#include <gtest/gtest.h>

#include "common/utf.h"
#include "core/convert_job.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/support/host_fixtures.h"

namespace {

using host_test::CRecordingSink;
using host_test::ListedPath;
using host_test::WithDir;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

struct Entry {
  std::wstring path;
  int checked;
};

// The list as LumoDict reads it: QueryDictNum entries.
std::vector<Entry> ListedEntries(const platform::CProfileStore& store) {
  std::vector<Entry> entries;
  const int count = store.GetProfileInt(L"Dictionary", L"QueryDictNum", 0);
  for (int i = 0; i < count; ++i)
    entries.push_back({store.GetProfileString(L"Dictionary", L"QueryFileName" + std::to_wstring(i), L""),
                       store.GetProfileInt(L"Dictionary", L"QueryChecked" + std::to_wstring(i), -1)});
  return entries;
}

void ExpectEntries(const platform::CProfileStore& store, const std::vector<Entry>& expected) {
  const std::vector<Entry> actual = ListedEntries(store);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(WideToUtf8(actual[i].path), WideToUtf8(expected[i].path)) << "entry " << i;
    EXPECT_EQ(actual[i].checked, expected[i].checked) << "entry " << i;
  }
}

class RegistrationTest : public ::testing::Test {
 protected:
  RegisterOutcome Register(const std::wstring& package) {
    return RegisterPackage(m_sink, package, m_ini);
  }
  void Settings(const std::string& text) { WriteBytes(m_ini, WithDir(m_dir, text)); }

  TempDir m_dir;
  std::wstring m_ini = m_dir.File(L"LumoDict.ini");
  platform::CProfileStore m_store{m_ini};
  CRecordingSink m_sink;
  std::wstring m_package = ListedPath(m_dir, L"new.ldic");
};

TEST_F(RegistrationTest, EmptyListGetsThePackageAsEntryZero) {
  const char* starts[] = {
      "",
      "[Other]\r\nx=1\r\n",
      "[Dictionary]\r\nQueryFileName0=<DIR>\\new.ldic\r\n",
      "[Dictionary]\r\nQueryDictNum=0\r\n",
      "[Dictionary]\r\nQueryDictNum=-2\r\nQueryFileName0=C:\\x.ldic\r\n",
      "[Dictionary]\r\nQueryDictNum=2147483647\r\n",  // damaged: must not take hours
  };
  host_test::WritePackage(m_package, 1);
  for (const char* start : starts) {
    Settings(start);
    m_sink.m_messages.clear();
    EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered) << start;
    ExpectEntries(m_store, {{m_package, 1}});
    EXPECT_EQ(m_sink.m_messages, std::vector<UserMessage>{UserMessage::kRegistered});
  }
  // A missing settings file is created with the list.
  ASSERT_TRUE(platform::RemoveFile(m_ini));
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{m_package, 1}});
}

TEST_F(RegistrationTest, SamePathAgainMovesItToTheEnd) {
  host_test::WritePackage(m_package, 1);
  host_test::WritePackage(ListedPath(m_dir, L"other.ldic"), 2);
  Settings("[Dictionary]\r\nQueryDictNum=2\r\nQueryFileName0=<DIR>\\new.ldic\r\nQueryChecked0=0\r\n"
           "QueryFileName1=<DIR>\\other.ldic\r\nQueryChecked1=0\r\n");
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{ListedPath(m_dir, L"other.ldic"), 0}, {m_package, 1}});
}

TEST_F(RegistrationTest, DuplicatesAreRefusedWithoutWriting) {
  host_test::WritePackage(m_package, 1, 4, 57);
  // The same bytes under a name differing in letter case (one file where names ignore
  // case), and a copy at another path: both carry the new package's checksum.
  const std::string bytes = ReadBytes(m_package);
  WriteBytes(ListedPath(m_dir, L"NEW.ldic"), bytes);
  WriteBytes(ListedPath(m_dir, L"copy.ldic"), bytes);
  // A StarDict dictionary with the package's word count and index size, made by tabfile.
  const std::wstring stardict = host_test::FixturePath(L"tabfile-dict.ifo");
  const std::string cases[] = {
      "QueryFileName0=<DIR>\\NEW.ldic\r\n",
      "QueryFileName0=<DIR>\\copy.ldic\r\n",
      "QueryFileName0=" + WideToUtf8(stardict) + "\r\n",
  };
  for (const std::string& entry : cases) {
    Settings("[Dictionary]\r\nQueryDictNum=1\r\n" + entry + "QueryChecked0=1\r\n");
    const std::string before = ReadBytes(m_ini);
    m_sink.m_messages.clear();
    EXPECT_EQ(Register(m_package), RegisterOutcome::kDuplicate) << entry;
    EXPECT_EQ(m_sink.m_messages, std::vector<UserMessage>{UserMessage::kAlreadyRegistered});
    EXPECT_EQ(ReadBytes(m_ini), before);
  }
}

TEST_F(RegistrationTest, StaleEntriesDroppedAndSurvivorsRenumbered) {
  for (const wchar_t* name : {L"a.ldic", L"b.ldic", L"c.ldic"})
    host_test::WritePackage(ListedPath(m_dir, name), name[0]);
  host_test::WritePackage(m_package, 1);
  // Written by hand: comments, blank lines and blanks around "=".
  Settings("; list\r\n\r\n[Main]\r\nSkin = blue\r\n\r\n[Dictionary]\r\nQueryDictNum = 5\r\n"
           "QueryFileName0 = <DIR>\\a.ldic\r\nQueryChecked0=5\r\n"
           "QueryFileName1=<DIR>\\gone1.ldic\r\nQueryChecked1=1\r\n"
           "QueryFileName2=<DIR>\\b.ldic\r\n"
           "QueryFileName3=<DIR>\\gone2.ifo\r\nQueryChecked3=1\r\n"
           "QueryFileName4=<DIR>\\c.ldic\r\nQueryChecked4=1\r\n\r\n[Window]\r\nX=1\r\n");
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{ListedPath(m_dir, L"a.ldic"), 1},
                          {ListedPath(m_dir, L"b.ldic"), 0},
                          {ListedPath(m_dir, L"c.ldic"), 1},
                          {m_package, 1}});
  // Keys above the new count stay as they were.
  EXPECT_EQ(m_store.GetProfileString(L"Dictionary", L"QueryFileName4", L""),
            ListedPath(m_dir, L"c.ldic"));
  EXPECT_EQ(m_store.GetProfileInt(L"Dictionary", L"QueryChecked4", -1), 1);
  EXPECT_EQ(m_store.GetProfileString(L"Main", L"Skin", L""), L"blue");
  EXPECT_EQ(m_store.GetProfileInt(L"Window", L"X", 0), 1);
}

TEST_F(RegistrationTest, NetworkEntryKeptAndUndescribablePackages) {
  Settings("[Dictionary]\r\nQueryDictNum=2\r\nQueryFileName0=<DIR>\\gone.ldic\r\nQueryChecked0=1\r\n"
           "QueryFileName1=http://dict.example.com/\r\nQueryChecked1=0\r\n");
  host_test::WritePackage(m_package, 1);
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{L"http://dict.example.com/", 0}, {m_package, 1}});

  // A package that cannot be described has the numbers 0: neither a stale entry nor a
  // network entry (which has no numbers either) is taken for it.
  const std::wstring broken = ListedPath(m_dir, L"broken.ldic");
  WriteBytes(broken, "not a package");
  Settings("[Dictionary]\r\nQueryDictNum=1\r\nQueryFileName0=<DIR>\\gone.ldic\r\nQueryChecked0=1\r\n");
  EXPECT_EQ(Register(broken), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{broken, 1}});
  Settings("[Dictionary]\r\nQueryDictNum=1\r\nQueryFileName0=http://dict.example.com/\r\n");
  EXPECT_EQ(Register(broken), RegisterOutcome::kRegistered);

  // Nor is an empty package, whose entry count and index size are 0.
  host_test::WritePackage(m_package, 7, 0, 0);
  Settings("[Dictionary]\r\nQueryDictNum=1\r\nQueryFileName0=http://dict.example.com/\r\nQueryChecked0=1\r\n");
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{L"http://dict.example.com/", 1}, {m_package, 1}});
}

TEST_F(RegistrationTest, SettingsInAMissingFolderAreNotCreated) {
  host_test::WritePackage(m_package, 1);
  const std::wstring nowhere = m_dir.File(L"no-such-folder") + platform::kPathSeparator + L"x.ini";
  EXPECT_EQ(RegisterPackage(m_sink, m_package, nowhere), RegisterOutcome::kWriteFailed);
  EXPECT_EQ(m_sink.m_messages, std::vector<UserMessage>{UserMessage::kRegisterWriteFailed});
  EXPECT_FALSE(lumo_test::FileExists(m_dir.File(L"no-such-folder")));
}

TEST_F(RegistrationTest, PathsTheFileCannotHoldAreRefusedBeforeAnyWrite) {
  // No ANSI code page holds U+1F600; a Unicode settings file holds anything.
  const std::wstring package = ListedPath(m_dir, Utf8ToWideText("\xF0\x9F\x98\x80词典.ldic"));
  host_test::WritePackage(package, 1);
  Settings("[Dictionary]\r\nQueryDictNum=0\r\n");
  const std::string before = ReadBytes(m_ini);
  EXPECT_EQ(Register(package), RegisterOutcome::kWriteFailed);
  EXPECT_EQ(ReadBytes(m_ini), before);

  WriteBytes(m_ini, host_test::Utf16File("[Dictionary]\r\nQueryDictNum=0\r\n"));
  EXPECT_EQ(Register(package), RegisterOutcome::kRegistered);
  ExpectEntries(m_store, {{package, 1}});
  EXPECT_EQ(ReadBytes(m_ini).substr(0, 2), "\xFF\xFE");
}

// A package as the converter writes it: described from its own header and metadata, and
// refused when the same conversion is registered again from another folder.
TEST_F(RegistrationTest, ConvertedPackagesAreRecognised) {
  WriteBytes(m_dir.File(L"w.txt"), "apple\t苹果\nbanana\t香蕉\n");
  CConvertJob job(m_dir.Path());
  lumo_test::RecordingObserver observer;
  ASSERT_TRUE(lumo_test::RunJob(job, m_dir.File(L"w.txt"), &observer));
  PackageFacts facts;
  facts.name = L"水果";
  facts.date = L"2024年1月1日";
  const std::u16string meta = BuildMetadataBlock(facts);
  const std::wstring copy = ListedPath(m_dir, L"copy.ldic");
  ASSERT_TRUE(::WritePackage(job.Result(), m_package, meta).ok());
  ASSERT_TRUE(::WritePackage(job.Result(), copy, meta).ok());

  DictDescription desc;
  desc.Init(m_package);
  ASSERT_TRUE(desc.Describe(m_package));
  EXPECT_EQ(desc.name, L"水果");
  EXPECT_EQ(desc.wordCount, 2);
  EXPECT_EQ(desc.checksum, lumo_test::Le32(ReadBytes(m_package), 28));
  Settings("");
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);
  EXPECT_EQ(Register(copy), RegisterOutcome::kDuplicate);
}

}  // namespace
