#include "host/registration.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "common/utf.h"
#include "core/convert_job.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "platform/file_system.h"
#include "platform/ini_document.h"
#include "platform/profile.h"
#include "tests/support/host_fixtures.h"

namespace {

using host_test::CRecordingSink;
using host_test::ListedPath;
using host_test::WithDir;
using host_test::WithoutDir;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;
namespace fs = std::filesystem;

// The names in folder.
std::set<std::wstring> FileNames(const fs::path& folder) {
  std::set<std::wstring> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    names.insert(lumo_test::WidePath(entry.path().filename()));
  return names;
}

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

// The count against the "QueryFileName" keys present. A count of 1 or more bounds the
// list (keys above it are left-overs, as LumoDict itself leaves them); one that is
// missing, no number, 0 or negative is damaged and bounds nothing. Within the bound every
// entry present is kept in order, an entry missing in the middle drops nothing after it,
// and a package listed under a damaged count is still found to be the same (a copy by its
// checksum, a StarDict dictionary by its word count and index size).
TEST_F(RegistrationTest, DamagedOrLargeCountsKeepEveryEntryPresent) {
  const wchar_t* const names[] = {L"a.ldic", L"b.ldic", L"c.ldic", L"d.ldic", L"e.ldic"};
  for (const wchar_t* name : names) host_test::WritePackage(ListedPath(m_dir, name), name[0]);
  host_test::WritePackage(m_package, 1, 4, 57);  // the numbers of tabfile-dict.ifo
  WriteBytes(ListedPath(m_dir, L"copy.ldic"), ReadBytes(m_package));
  const std::string sameAsPackage[] = {
      "<DIR>\\copy.ldic", WideToUtf8(host_test::FixturePath(L"tabfile-dict.ifo"))};
  struct Case {
    const char* count;            // nullptr: no count at all
    std::vector<int> present;     // the numbers with a key; entry n names names[n % 5]
    std::vector<int> listed;      // the entries kept, in order, before the package
  };
  const Case cases[] = {
      {"-5", {0}, {0}},
      {"0", {0, 1}, {0, 1}},
      {"", {0}, {0}},
      {"abc", {0, 2}, {0, 2}},
      {nullptr, {0, 1}, {0, 1}},
      {"3", {0, 1, 2, 3, 4}, {0, 1, 2}},
      {"7", {1, 5}, {1, 5}},
      {"2147483647", {0, 4, 9}, {0, 4, 9}},
  };
  for (const Case& c : cases) {
    const std::string label = c.count == nullptr ? "(none)" : std::string("\"") + c.count + "\"";
    std::string text = "[Dictionary]\r\n";
    if (c.count != nullptr) text += std::string("QueryDictNum=") + c.count + "\r\n";
    for (const int n : c.present)
      text += "QueryFileName" + std::to_string(n) + "=<DIR>\\" + WideToUtf8(names[n % 5]) +
              "\r\nQueryChecked" + std::to_string(n) + "=0\r\n";
    Settings("[General]\r\nX=1\r\n" + text + "[Other]\r\nY=2\r\n");
    EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered) << label;
    std::vector<Entry> expected;
    for (const int n : c.listed) expected.push_back({ListedPath(m_dir, names[n % 5]), 0});
    expected.push_back({m_package, 1});
    {
      SCOPED_TRACE(label);
      ExpectEntries(m_store, expected);
    }
    // Nothing is written over a key beyond the list.
    const int beyond = c.present.back();
    if (beyond >= static_cast<int>(expected.size())) {
      const std::wstring key = L"QueryFileName" + std::to_wstring(beyond);
      EXPECT_EQ(m_store.GetProfileString(L"Dictionary", key, L""),
                ListedPath(m_dir, names[beyond % 5])) << label;
    }
    EXPECT_EQ(m_store.GetProfileInt(L"General", L"X", 0), 1) << label;
    EXPECT_EQ(m_store.GetProfileInt(L"Other", L"Y", 0), 2) << label;

    // The same package under another path after them is a duplicate, unless a count
    // leaves it out of the list.
    const std::string after = std::to_string(c.present.back() + 1);
    const bool withinBound = c.count == nullptr || std::atoi(c.count) <= 0 ||
                             c.present.back() + 1 < std::atoi(c.count);
    for (const std::string& same : sameAsPackage) {
      Settings(text + "QueryFileName" + after + "=" + same + "\r\n");
      const std::string before = ReadBytes(m_ini);
      EXPECT_EQ(Register(m_package),
                withinBound ? RegisterOutcome::kDuplicate : RegisterOutcome::kRegistered)
          << label << " " << same;
      if (withinBound) {
        EXPECT_EQ(ReadBytes(m_ini), before) << label;
      }
    }
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

// Every file operation of a registration fails in turn (the settings file has a folder of
// its own, the packages are elsewhere): afterwards the file is the old one or the
// complete new one, never a mixture, the outcome says which, a full disk is told as such,
// and nothing is left beside it.
TEST_F(RegistrationTest, FailureAtAnyFileOperationLeavesTheOldOrTheNewFile) {
  TempDir own;
  const std::wstring ini = own.File(L"LumoDict.ini");
  for (const wchar_t* name : {L"a.ldic", L"b.ldic"})
    host_test::WritePackage(ListedPath(m_dir, name), name[0]);
  host_test::WritePackage(m_package, 1);
  const std::string old = WithDir(
      m_dir, "; mine\r\n[Main]\r\nSkin=1\r\n[Dictionary]\r\nQueryDictNum=3\r\n"
             "QueryFileName0=<DIR>\\a.ldic\r\nQueryChecked0=0\r\n"
             "QueryFileName1=<DIR>\\gone.ldic\r\nQueryFileName2=<DIR>\\b.ldic\r\nQueryChecked2=1\r\n\r\n[Window]\r\nX=1\r\n");
  const auto registerWith = [&](platform::CFaultPlan* plan) {
    WriteBytes(ini, old);
    platform::CScopedFaultPlan installed(plan);
    return RegisterPackage(m_sink, m_package, ini);
  };
  platform::CFaultPlan counting(own.Path());
  ASSERT_EQ(registerWith(&counting), RegisterOutcome::kRegistered);
  const std::string complete = ReadBytes(ini);
  ASSERT_NE(complete, old);
  // The file and, on POSIX, its lock.
  const std::set<std::wstring> names = FileNames(lumo_test::FsPath(own.Path()));
  // The lock, the reading, the temporary file's creation, write, sync and close, the rename.
  const int64_t operations = counting.Count(platform::FileOperation::kAny);
  ASSERT_GE(operations, 8);
  for (const platform::Fault fault : lumo_test::kEveryFault) {
    for (int64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) + ", " + lumo_test::FaultName(fault));
      platform::CFaultPlan plan(own.Path());
      plan.FailAt(platform::FileOperation::kAny, n, fault);
      m_sink.m_messages.clear();
      const RegisterOutcome outcome = registerWith(&plan);
      const std::string after = ReadBytes(ini);
      EXPECT_EQ(plan.Injected(), 1);
      EXPECT_TRUE(after == old || after == complete);
      EXPECT_EQ(outcome == RegisterOutcome::kRegistered, after == complete);
      if (outcome == RegisterOutcome::kWriteFailed) {
        const UserMessage told = fault == platform::Fault::kDiskFull
                                     ? UserMessage::kRegisterDiskFull
                                     : UserMessage::kRegisterWriteFailed;
        EXPECT_EQ(m_sink.m_messages, std::vector<UserMessage>{told});
      }
      EXPECT_EQ(FileNames(lumo_test::FsPath(own.Path())), names);
    }
  }
}

// However large the count, the file costs one open to read it and as many reads as for a
// count of 1 (a huge count once re-read the file for every number).
TEST_F(RegistrationTest, AnyCountCostsOneReading) {
  host_test::WritePackage(ListedPath(m_dir, L"a.ldic"), 2);
  host_test::WritePackage(m_package, 1);
  std::string filler = "[Other]\r\n";
  for (int i = 0; i < 2000; ++i) filler += "Key" + std::to_string(i) + "=some value\r\n";
  struct Case {
    const char* count;
    size_t listed;
  };
  std::vector<int64_t> reads;
  for (const Case& c : {Case{"1", 2}, Case{"2147483647", 2}, Case{"-1", 2}}) {
    TempDir own;
    const std::wstring ini = own.File(L"LumoDict.ini");
    WriteBytes(ini, WithDir(m_dir, std::string("[Dictionary]\r\nQueryDictNum=") + c.count +
                                       "\r\nQueryFileName0=<DIR>\\a.ldic\r\n" + filler));
    platform::CFaultPlan plan(own.Path());
    {
      platform::CScopedFaultPlan installed(&plan);
      EXPECT_EQ(RegisterPackage(m_sink, m_package, ini), RegisterOutcome::kRegistered) << c.count;
    }
    EXPECT_EQ(plan.Count(platform::FileOperation::kOpen), 2) << c.count;  // the file, the new one
    reads.push_back(plan.Count(platform::FileOperation::kRead));
    EXPECT_EQ(reads.back(), reads.front()) << c.count;
    EXPECT_EQ(ListedEntries(platform::CProfileStore(ini)).size(), c.listed) << c.count;
  }
}

// A long list, as LumoDict's own list of network dictionaries may grow: every entry is
// kept in order with its ticked state, and the entries missing in the middle are dropped.
TEST_F(RegistrationTest, LongListIsKeptWhole) {
  constexpr int kListed = 5000;
  host_test::WritePackage(m_package, 1);
  std::string text =
      "[General]\r\nX=1\r\n[Dictionary]\r\nQueryDictNum=" + std::to_string(kListed) + "\r\n";
  for (int i = 0; i < kListed; ++i) {
    if (i % 250 == 100) continue;
    const std::string n = std::to_string(i);
    text += "QueryFileName" + n + "=http://dict.example.com/" + n + "\r\nQueryChecked" + n + "=" +
            std::to_string(i % 2) + "\r\n";
  }
  WriteBytes(m_ini, text + "[Other]\r\nY=2\r\n");
  EXPECT_EQ(Register(m_package), RegisterOutcome::kRegistered);

  platform::CIniDocument after;
  ASSERT_TRUE(after.Load(m_ini).ok());
  const int kept = kListed - kListed / 250;
  ASSERT_EQ(after.GetProfileInt(L"Dictionary", L"QueryDictNum", 0), kept + 1);
  for (int i = 0, m = 0; i < kListed; ++i) {
    if (i % 250 == 100) continue;
    const std::wstring number = std::to_wstring(m++);
    ASSERT_EQ(after.GetProfileString(L"Dictionary", L"QueryFileName" + number, L""),
              L"http://dict.example.com/" + std::to_wstring(i));
    ASSERT_EQ(after.GetProfileInt(L"Dictionary", L"QueryChecked" + number, -1), i % 2);
  }
  EXPECT_EQ(after.GetProfileString(L"Dictionary", L"QueryFileName" + std::to_wstring(kept), L""),
            m_package);
  EXPECT_EQ(after.GetProfileInt(L"General", L"X", 0), 1);
  EXPECT_EQ(after.GetProfileInt(L"Other", L"Y", 0), 2);
}

#ifndef _WIN32
// LumoDict saving its settings while registrations run: at random moments it rewrites the
// file in place through the file it opened (empties it, waits a little, writes it again
// in two parts). Every registration succeeds, and afterwards the file is exactly the list
// so far with every other section as it was.
TEST_F(RegistrationTest, ForeignWriterRewritingInPlaceLosesNothing) {
  constexpr int kRegistrations = 50;
  host_test::WritePackage(ListedPath(m_dir, L"a.ldic"), 1);
  std::vector<std::wstring> packages;
  for (int i = 0; i < kRegistrations; ++i) {
    packages.push_back(ListedPath(m_dir, L"p" + std::to_wstring(i) + L".ldic"));
    host_test::WritePackage(packages.back(), static_cast<uint32_t>(100 + i));
  }
  const auto expected = [&](int registered) {
    std::string text = "[General]\r\nLanguage=2\r\n\r\n[Dictionary]\r\nQueryDictNum=" +
                       std::to_string(registered + 1) +
                       "\r\nQueryFileName0=<DIR>\\a.ldic\r\nQueryChecked0=0\r\n";
    for (int i = 0; i < registered; ++i)
      text += "QueryFileName" + std::to_string(i + 1) + "=<DIR>\\p" + std::to_string(i) +
              ".ldic\r\nQueryChecked" + std::to_string(i + 1) + "=1\r\n";
    return WithDir(m_dir, text + "\r\n[Other]\r\nWindow=3\r\n");
  };
  WriteBytes(m_ini, expected(0));

  std::mutex rewriting;  // held by the writer while it rewrites, and by the checks
  std::atomic<bool> stop{false};
  std::atomic<int> rewrites{0};
  std::thread writer([&] {
    std::mt19937 random(20240601);
    const std::string path = WideToUtf8(m_ini);
    while (!stop) {
      {
        const std::lock_guard<std::mutex> hold(rewriting);
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd >= 0) {
          std::string bytes(1 << 16, '\0');
          const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
          bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
          if (::ftruncate(fd, 0) == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            const size_t half = bytes.size() / 2;
            const bool whole =
                ::pwrite(fd, bytes.data(), half, 0) == static_cast<ssize_t>(half) &&
                ::pwrite(fd, bytes.data() + half, bytes.size() - half, static_cast<off_t>(half)) ==
                    static_cast<ssize_t>(bytes.size() - half);
            if (whole) ++rewrites;
          }
          ::close(fd);
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    }
  });
  int registered = 0;
  std::string seen;
  while (registered < kRegistrations) {
    if (RegisterPackage(m_sink, packages[registered], m_ini) != RegisterOutcome::kRegistered) break;
    ++registered;
    const std::lock_guard<std::mutex> hold(rewriting);
    seen = ReadBytes(m_ini);
    if (seen != expected(registered)) break;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(registered, kRegistrations);
  EXPECT_EQ(WithoutDir(m_dir, seen), WithoutDir(m_dir, expected(registered)));
  EXPECT_GE(rewrites, kRegistrations);  // it did write among them
}
#endif

// The settings file as users may have it. Each case prepares the file, registers the
// package and compares the bytes; in every case a link stays a link and the file keeps
// its permissions (and on POSIX its owner), and nothing but the lock is left beside the
// file that the link, if any, points to.
TEST_F(RegistrationTest, SettingsFileEdgeCases) {
  host_test::WritePackage(m_package, 1);
  const std::string listed =
      WithDir(m_dir, "QueryFileName0=<DIR>\\new.ldic\r\nQueryChecked0=1\r\n");
  const auto readOnly = [](const fs::path& file) {
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  };
  struct Case {
    const char* label;
    std::string start;
    std::function<void(const fs::path& file, const fs::path& folder)> prepare;
    RegisterOutcome outcome;
    std::string expected;
  };
  const std::string plain = "[Main]\r\nX=1\r\n";
  const std::vector<Case> cases = {
      // A UTF-16 file with an odd last byte: read and written in whole code units.
      {"utf16_odd_byte_new_section", host_test::Utf16File("[Main]\r\nX=1") + "A", nullptr,
       RegisterOutcome::kRegistered,
       host_test::Utf16File("[Main]\r\nX=1\r\n[Dictionary]\r\nQueryDictNum=1\r\n" + listed)},
      {"utf16_odd_byte_new_keys",
       host_test::Utf16File("[Dictionary]\r\nQueryDictNum=0\r\n[M]\r\n") + "\n", nullptr, RegisterOutcome::kRegistered,
       host_test::Utf16File("[Dictionary]\r\nQueryDictNum=1\r\n" + listed + "[M]\r\n")},
      {"read_only", plain, [&](const fs::path& file, const fs::path&) { readOnly(file); },
       RegisterOutcome::kWriteFailed, plain},
#ifndef _WIN32
      {"mode_and_owner", plain,
       [](const fs::path& file, const fs::path&) {
         fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::group_write);
         // A root run must leave a user's file the user's.
         if (::geteuid() == 0) {
           ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
         }
       },
       RegisterOutcome::kRegistered, plain + "[Dictionary]\r\nQueryDictNum=1\r\n" + listed},
      {"symbolic_link", plain,
       [](const fs::path& file, const fs::path& folder) {
         fs::create_directory(folder / "real");
         fs::rename(file, folder / "real" / "target.ini");
         fs::create_symlink(folder / "real" / "target.ini", file);
       },
       RegisterOutcome::kRegistered, plain + "[Dictionary]\r\nQueryDictNum=1\r\n" + listed},
      {"link_to_read_only", plain,
       [&](const fs::path& file, const fs::path& folder) {
         fs::rename(file, folder / "target.ini");
         fs::create_symlink(folder / "target.ini", file);
         readOnly(folder / "target.ini");
       },
       RegisterOutcome::kWriteFailed, plain},
#endif
  };
  for (const Case& c : cases) {
    TempDir own;
    const fs::path file = lumo_test::FsPath(own.File(L"LumoDict.ini"));
    WriteBytes(own.File(L"LumoDict.ini"), c.start);
    if (c.prepare) c.prepare(file, lumo_test::FsPath(own.Path()));
    const fs::path target = fs::canonical(file);
    const bool wasLink = fs::is_symlink(file);
    const fs::perms perms = fs::status(target).permissions();
#ifndef _WIN32
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
#endif
    std::set<std::wstring> names = FileNames(target.parent_path());

    m_sink.m_messages.clear();
    EXPECT_EQ(RegisterPackage(m_sink, m_package, lumo_test::WidePath(file)), c.outcome) << c.label;
    EXPECT_EQ(m_sink.m_messages.size(), 1u) << c.label;
    EXPECT_EQ(ReadBytes(lumo_test::WidePath(file)), c.expected) << c.label;
    EXPECT_EQ(fs::is_symlink(file), wasLink) << c.label;
    EXPECT_EQ(fs::status(target).permissions(), perms) << c.label;
#ifndef _WIN32
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid) << c.label;
    EXPECT_EQ(after.st_gid, before.st_gid) << c.label;
    names.insert(lumo_test::WidePath(target.filename()) + L".lock");
#endif
    EXPECT_EQ(FileNames(target.parent_path()), names) << c.label;
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);  // so it can go
  }
}

}  // namespace
