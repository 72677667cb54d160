// ldic convert with a StarDict dictionary as its input: a package exported as StarDict
// and converted back dumps as the original, a dictionary made by StarDict's own tabfile
// dumps as its word list, and entries that cannot be converted are reported by number.
// The sweep of failing file operations takes an MDict dictionary too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "common/memory_fault.h"
#include "common/utf.h"
#include "platform/fault_injection.h"
#include "tests/cli/ldic_in_process.h"
#include "tests/mdict/mdict_writer.h"
#include "tests/stardict/stardict_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::TempDir;

using cli_test::Ldic;
using cli_test::Result;

std::string U8(const std::wstring& path) { return WideToUtf8(path); }

// A list with what a dictionary holds: case variants, repeated headwords, quotes and
// apostrophes that a word list would trim, Chinese, and one explanation longer than a chunk.
// all: also an empty explanation, which tabfile refuses, and headwords that a word list
// trims but a dictionary keeps.
std::string SampleList(bool all = true) {
  std::string list = "Apple\tcompany\napple\tred fruit\napple\tsecond apple\n苹果\t水果\n";
  if (all) list += "empty\t\n'tis\tit is\n\"quoted\"\tin quotes\n";
  for (int i = 0; i < 500; ++i) list += "word" + std::to_string(i * 7 % 1000) + "\tmeaning " + std::to_string(i) + "\n";
  list += "long\t" + std::string(70000, 'x') + "\n";
  return list;
}

std::string Dump(const std::wstring& package) {
  const Result r = Ldic({"dump", U8(package), "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

TEST(StarDictInput, ExportedAndConvertedBackDumpsAsTheOriginal) {
  TempDir dir;
  lumo_test::WriteBytes(dir.File(L"w.txt"), SampleList());
  ASSERT_EQ(Ldic({"convert", U8(dir.File(L"w.txt")), "--name", "Words", "--author", "Me", "-q"}).status, 0);
  ASSERT_EQ(Ldic({"export", U8(dir.File(L"w.ldic")), "--stardict", U8(dir.File(L"sd"))}).status, 0);
  const Result back = Ldic({"convert", U8(dir.File(L"sd/w.ifo")), "-o", U8(dir.File(L"back.ldic"))});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(Dump(dir.File(L"back.ldic")), Dump(dir.File(L"w.ldic")));
  // The dictionary's name came along; the .ifo has no author, so none is stored.
  const std::string info = Ldic({"info", U8(dir.File(L"back.ldic"))}).out;
  EXPECT_NE(info.find("Words"), std::string::npos) << info;
  // Given on the command line, they win.
  ASSERT_EQ(Ldic({"convert", U8(dir.File(L"sd/w.ifo")), "-o", U8(dir.File(L"named.ldic")), "--name", "Other", "-q"}).status, 0);
  EXPECT_NE(Ldic({"info", U8(dir.File(L"named.ldic"))}).out.find("Other"), std::string::npos);
}

// Entries kept, left out and reported: HTML made text, a line break kept (and dumped as
// \n with a note), a sound left out, an entry of a picture alone, data past the end,
// an empty headword, a synonym.
TEST(StarDictInput, EntriesThatCannotBeConvertedAreReportedByNumber) {
  using namespace stardict_test;
  TempDir dir;
  Layout layout;
  layout.synonyms = {{"fruit", 0}};
  const std::wstring ifo = WriteDictionary(
      dir,
      {{"apple", {{'h', "<b>red</b> fruit<br>round"}}},
       {"bee", {{'m', "insect"}, {'W', "sound"}}},
       {"picture", {{'P', "png bytes"}}},
       {"", {{'m', "no headword"}}},
       {"zebra", {{'m', "striped"}}}},
      layout);
  // zebra's data now lies past the end of the data file.
  std::string data = lumo_test::ReadBytes(dir.File(L"d.dict"));
  data.resize(data.size() - 3);
  lumo_test::WriteBytes(dir.File(L"d.dict"), data);

  const Result r = Ldic({"convert", U8(ifo), "--report", U8(dir.File(L"report.tsv"))});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("unreadable: 1 (entry 5)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("binary only: 1 (entry 3)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("binary fields left out: 1"), std::string::npos) << r.err;
  EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"report.tsv")),
            "line\treason\ttext\n3\tbinary-only\tpicture\n4\tempty-headword\tno headword\n"
            "5\tunreadable\tzebra\n");
  const Result dump = Ldic({"dump", U8(dir.File(L"d.ldic"))});
  EXPECT_EQ(dump.out, "apple\tred fruit\\nround\nbee\tinsect\nfruit\tred fruit\\nround\n");
  EXPECT_NE(dump.err.find("2 entries were written with escapes"), std::string::npos) << dump.err;
  // Kept as it is on request.
  ASSERT_EQ(Ldic({"convert", U8(ifo), "-o", U8(dir.File(L"kept.ldic")), "--keep-markup", "-q"}).status, 0);
  EXPECT_NE(Ldic({"lookup", U8(dir.File(L"kept.ldic")), "apple"}).out.find("<b>red</b>"), std::string::npos);
  // --strict refuses such a dictionary.
  EXPECT_EQ(Ldic({"convert", U8(ifo), "-o", U8(dir.File(L"strict.ldic")), "--strict", "-q"}).status, 1);
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"strict.ldic")));
}

TEST(StarDictInput, ADamagedDictionaryIsToldAndMakesNoPackage) {
  using namespace stardict_test;
  TempDir dir;
  const std::wstring ifo = WriteDictionary(dir, {{"a", {{'m', "x"}}}, {"b", {{'m', "y"}}}}, Layout{"m"});
  std::string index = lumo_test::ReadBytes(dir.File(L"d.idx"));
  lumo_test::WriteBytes(dir.File(L"d.idx"), index.substr(0, index.size() - 2));
  const Result r = Ldic({"convert", U8(ifo)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("无法读取该StarDict词典"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ends inside record 2"), std::string::npos) << r.err;
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"d.ldic")));
}

// Every large allocation of a dictionary's conversion failed in turn, in opening it and in
// reading it: the run says the dictionary is too big and leaves nothing, or makes the
// package it makes otherwise.
TEST(StarDictInput, EveryFailingLargeAllocationIsTooBig) {
  using namespace stardict_test;
  TempDir dir;
  Layout layout{"m", false, Data::kGzip, true};
  const std::wstring ifo = WriteDictionary(
      dir, {{"apple", {{'m', "red"}}}, {"bee", {{'m', std::string(100000, 'b')}}}}, layout);
  const std::string out = U8(dir.File(L"d.ldic"));
  const std::vector<std::string> args = {"convert", U8(ifo), "-o", out, "--date", "d", "-q"};
  int64_t allocations = 0;
  {
    CAllocationFault counting(0);
    ASSERT_EQ(Ldic(args).status, 0);
    allocations = counting.Count();
  }
  const std::string expected = lumo_test::ReadBytes(dir.File(L"d.ldic"));
  ASSERT_GT(allocations, 2);
  for (int64_t n = 1; n <= allocations; ++n) {
    std::filesystem::remove(lumo_test::FsPath(dir.File(L"d.ldic")));
    Result r;
    {
      CAllocationFault fault(n);
      r = Ldic(args);
    }
    if (r.status == 0) {
      EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"d.ldic")), expected) << n;
    } else {
      EXPECT_NE(r.err.find(UserMessageUtf8(UserMessage::kWordListTooBig)), std::string::npos) << n << r.err;
      EXPECT_FALSE(lumo_test::FileExists(dir.File(L"d.ldic"))) << n;
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) ++files;
    EXPECT_EQ(files, 3u + (r.status == 0)) << "allocation " << n << " left files behind";
  }
}

// Every file operation on the dictionary's files failed in turn, as each fault: the run
// fails with a message and leaves no package, or makes the very package it makes
// otherwise; never another one.
TEST(StarDictInput, EveryFailingFileOperationFailsTheRunOrChangesNothing) {
  using namespace stardict_test;
  // StarDict in plain files; with a gzipped index and plain gzip data, which is inflated
  // into a scratch file beside the package; and an MDict dictionary with a style sheet, a
  // link and resources beside it.
  const std::vector<std::pair<const char*, std::function<std::wstring(const TempDir&)>>> inputs = {
      {"plain", [](const TempDir& dir) {
         Layout layout{"m"};
         layout.synonyms = {{"fruit", 0}};
         return WriteDictionary(dir, {{"apple", {{'m', "red"}}}, {"bee", {{'m', std::string(70000, 'b')}}}}, layout);
       }},
      {"gzip", [](const TempDir& dir) {
         Layout layout{"m", false, Data::kGzip, true};
         layout.synonyms = {{"fruit", 0}};
         return WriteDictionary(dir, {{"apple", {{'m', "red"}}}, {"bee", {{'m', std::string(70000, 'b')}}}}, layout);
       }},
      {"mdict", [](const TempDir& dir) {
         mdict_test::Dictionary d;
         d.styleSheet = "1\n<b>\n</b>\n";
         d.entries = {{"apple", "`1`red"}, {"bee", std::string(70000, 'b')}, {"fruit", "@@@LINK=apple"}};
         lumo_test::WriteBytes(dir.File(L"d.mdd"), "resources");
         lumo_test::WriteBytes(dir.File(L"d.mdx"), mdict_test::WriteMdict(d));
         return dir.File(L"d.mdx");
       }},
  };
  for (const auto& [label, write] : inputs) {
    SCOPED_TRACE(label);
    TempDir dir;
    const std::wstring input = write(dir);
    const std::wstring package = dir.File(L"out.ldic");
    const std::vector<std::string> args = {"convert", U8(input), "-o", U8(package), "--date", "d", "-q"};
    const auto folderHolds = [&dir] {
      std::set<std::wstring> names;
      for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path())))
        names.insert(lumo_test::WidePath(entry.path().filename()));
      return names;
    };
    const std::set<std::wstring> before = folderHolds();
    platform::CFaultPlan counting(dir.Path());
    {
      platform::CScopedFaultPlan installed(&counting);
      ASSERT_EQ(Ldic(args).status, 0);
    }
    const std::string expected = lumo_test::ReadBytes(package);
    const int64_t operations = counting.Count(platform::FileOperation::kAny);
    ASSERT_GT(operations, 5);
    for (const platform::Fault fault : lumo_test::kEveryFault) {
      for (int64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE("operation " + std::to_string(n) + ", " + lumo_test::FaultName(fault));
        std::filesystem::remove(lumo_test::FsPath(package));
        platform::CFaultPlan plan(dir.Path());
        plan.FailAt(platform::FileOperation::kAny, n, fault);
        Result r;
        {
          platform::CScopedFaultPlan installed(&plan);
          r = Ldic(args);
        }
        std::set<std::wstring> expectedNames = before;
        if (r.status == 0) {
          EXPECT_EQ(lumo_test::ReadBytes(package), expected);
          expectedNames.insert(L"out.ldic");
        } else {
          EXPECT_EQ(r.status, 1);
          EXPECT_NE(r.err.find("ldic: "), std::string::npos) << r.err;
        }
        // Nothing of the run is left, but what the user was told could not be deleted.
        if (r.err.find("删除") == std::string::npos) {
          EXPECT_EQ(folderHolds(), expectedNames) << r.err;
        }
        for (const std::wstring& name : folderHolds())
          if (!before.count(name)) std::filesystem::remove(lumo_test::FsPath(dir.File(name)));
      }
    }
  }
}

#ifndef _WIN32
// StarDict's own tools make the dictionary: tabfile from the list (its data dictzipped),
// and gzip for the index.
TEST(StarDictInput, TabfileDictionaryDumpsAsItsWordList) {
  const char* tabfile = "/usr/lib/stardict-tools/tabfile";
  if (std::system((std::string("test -x ") + tabfile).c_str()) != 0) GTEST_SKIP() << "no tabfile";
  TempDir dir;
  lumo_test::WriteBytes(dir.File(L"w.txt"), SampleList(false));
  const std::string folder = "'" + U8(dir.Path()) + "'";
  ASSERT_EQ(std::system(("cd " + folder + " && " + tabfile + " w.txt >/dev/null 2>&1 && gzip -n w.idx").c_str()), 0);
  ASSERT_TRUE(lumo_test::FileExists(dir.File(L"w.dict.dz")));
  ASSERT_TRUE(lumo_test::FileExists(dir.File(L"w.idx.gz")));
  ASSERT_EQ(Ldic({"convert", U8(dir.File(L"w.ifo")), "-o", U8(dir.File(L"sd.ldic")), "-q"}).status, 0);
  ASSERT_EQ(Ldic({"convert", U8(dir.File(L"w.txt")), "-o", U8(dir.File(L"list.ldic")), "-q"}).status, 0);
  // tabfile may put repeated headwords in another order; line for line the dumps agree.
  const auto lines = [](const std::string& dump) {
    std::vector<std::string> out;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::vector<std::string> fromDictionary = lines(Dump(dir.File(L"sd.ldic")));
  const std::vector<std::string> fromList = lines(Dump(dir.File(L"list.ldic")));
  EXPECT_EQ(fromDictionary.size(), fromList.size());
  EXPECT_TRUE(fromDictionary == fromList);
}
#endif

}  // namespace
