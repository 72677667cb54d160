// The StarDict export read by Debian's StarDict tools: sdcv answers for a sample of
// headwords as the word list says, and dictzip itself decompresses our .dict.dz.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "common/utf.h"
#include "package/package_reader.h"
#include "stardict/stardict_export.h"
#include "stardict/stardict_reader.h"
#include "tests/package/reader_fixtures.h"

namespace {

using lumo_test::TempDir;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A word list of 3,000 entries with case variants, duplicates, Chinese headwords and one
// explanation longer than a chunk.
std::multimap<std::string, std::string> SampleList(std::string* list) {
  std::multimap<std::string, std::string> entries;
  for (int i = 0; i < 3000; ++i) {
    std::string word = "word" + std::to_string(i * 7919 % 100000);
    if (i % 10 == 0) word = "词" + std::to_string(i);
    if (i % 17 == 0 && word[0] == 'w') word[0] = 'W';
    std::string text = "meaning " + std::to_string(i) + " of " + word;
    if (i == 1500) text += " " + reader_test::Prose(70000, 2);
    entries.emplace(word, text);
    if (i % 29 == 0) entries.emplace(word, "another meaning " + std::to_string(i));
  }
  for (const auto& [w, t] : entries) *list += w + "\t" + t + "\n";
  return entries;
}

TEST(StarDictTools, SdcvAnswersFromTheExport) {
  if (!HaveTool("sdcv")) GTEST_SKIP() << "sdcv is not installed";
  std::string list;
  const std::multimap<std::string, std::string> entries = SampleList(&list);
  TempDir dir;
  const std::wstring path = reader_test::MakePackage(dir, list);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  const std::wstring dic = dir.File(L"dic");
  ASSERT_EQ(std::system(("mkdir -p " + Quote(WideToUtf8(dic))).c_str()), 0);
  ASSERT_EQ(ExportStarDict(reader, dic, L"words").result, StarDictExportResult::kDone);

  const std::string sdcv = "LC_ALL=C.UTF-8 HOME=" + Quote(WideToUtf8(dir.Path())) +
                           " sdcv -n -x -e -0 -1 --data-dir " + Quote(WideToUtf8(dir.Path())) + " ";
  EXPECT_NE(Capture(sdcv + "-l").find("Words    3"), std::string::npos) << Capture(sdcv + "-l");

  int checked = 0;
  for (auto it = entries.begin(); it != entries.end(); it = entries.upper_bound(it->first)) {
    if (++checked % 23 != 0 && it->second.size() < 1000) continue;  // a sample, and the long one
    const std::string out = Capture(sdcv + Quote(it->first));
    // sdcv shows one entry per dictionary, so of duplicates any one will do.
    const auto [from, to] = entries.equal_range(it->first);
    bool shown = false;
    for (auto e = from; e != to; ++e) {
      shown = shown || out.find("-->" + e->first + "\n\n" + e->second + "\n") != std::string::npos;
    }
    EXPECT_TRUE(shown) << "sdcv for " << it->first << " said:\n" << out.substr(0, 400);
  }
  EXPECT_GT(checked, 100);
  const std::string missing = Capture(sdcv + "no-such-word");
  EXPECT_NE(missing.find("Nothing similar"), std::string::npos) << missing;
}

TEST(StarDictTools, DictzipDecompressesTheExport) {
  if (!HaveTool("dictzip")) GTEST_SKIP() << "dictzip is not installed";
  std::string list;
  SampleList(&list);
  TempDir dir;
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(reader_test::MakePackage(dir, list)));
  ASSERT_EQ(ExportStarDict(reader, dir.Path(), L"words").result, StarDictExportResult::kDone);
  std::string data;
  ASSERT_EQ(reader.ReadData(0, reader.DataLength(), &data), PackageError::kNone);
  const std::string dz = Quote(WideToUtf8(dir.File(L"words.dict.dz")));
  EXPECT_TRUE(Capture("dictzip -dc " + dz) == data);
  // Random access through the RA table: a range in the middle of the second chunk.
  const std::string part = Capture("dictzip -dc -s 60000 -e 100 " + dz);
  EXPECT_EQ(part, data.substr(60000, 100));
}

// Dictionaries made by StarDict's own tabfile from the sample list (its data dictzipped,
// and once with the index gzipped as well) read back as the list's entries.
TEST(StarDictTools, TabfileDictionariesReadBackAsTheirList) {
  const char* tabfile = "/usr/lib/stardict-tools/tabfile";
  if (!HaveTool(tabfile) || !HaveTool("gzip")) GTEST_SKIP() << "tabfile is not installed";
  std::string list;
  const std::multimap<std::string, std::string> entries = SampleList(&list);
  for (const bool gzipIndex : {false, true}) {
    TempDir dir;
    lumo_test::WriteBytes(dir.File(L"words.txt"), list);
    const std::string folder = Quote(WideToUtf8(dir.Path()));
    ASSERT_EQ(std::system(("cd " + folder + " && " + tabfile + " words.txt >/dev/null 2>&1").c_str()), 0);
    ASSERT_TRUE(lumo_test::FileExists(dir.File(L"words.dict.dz")));
    if (gzipIndex) {
      ASSERT_EQ(std::system(("gzip -n " + folder + "/words.idx").c_str()), 0);
    }
    CStarDictReader reader;
    const Status opened = reader.Open(dir.File(L"words.ifo"));
    ASSERT_TRUE(opened.ok()) << opened.Where();
    EXPECT_EQ(reader.Facts().bookName, "words");
    std::multimap<std::string, std::string> read;
    ASSERT_TRUE(reader.ReadEntries({}, [&read](const StarDictEntry& e) {
      EXPECT_FALSE(e.unreadable || e.binaryFields != 0) << e.word;
      read.emplace(e.word, e.explanation);
      return true;
    }).ok());
    // Duplicates may come in another order; as sets of pairs the two agree.
    using Pairs = std::multiset<std::pair<std::string, std::string>>;
    EXPECT_EQ(Pairs(read.begin(), read.end()), Pairs(entries.begin(), entries.end()))
        << (gzipIndex ? "gzipped index" : "plain index");
  }
}

}  // namespace
