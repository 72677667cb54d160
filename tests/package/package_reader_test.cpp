// Reading packages made by the conversion pipeline: metadata, index, explanations across
// chunk boundaries, lookup, and the complete check of sound packages.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "tests/package/reader_fixtures.h"

namespace {

using lumo_test::TempDir;
using reader_test::MakePackage;
using reader_test::Prose;

std::vector<std::string> Headwords(const CPackageReader& reader) {
  std::vector<std::string> words;
  for (size_t i = 0; i < reader.EntryCount(); ++i) words.emplace_back(reader.Headword(i));
  return words;
}

TEST(PackageReader, ReadsWhatThePipelineWrote) {
  TempDir dir;
  const std::wstring path =
      MakePackage(dir, "bee\tinsect\napple,red fruit\n\"New York, NY\",city\n苹果\t水果\nempty\t\n");
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path)) << DescribeProblem(reader.Problems().front());

  using Item = std::pair<std::string, std::string>;
  EXPECT_EQ(reader.Metadata(), (std::vector<Item>{{"N", "Words"}, {"A", "Me"}, {"Lumo", "42"},
                                                  {"V", "1.0"}, {"DP", "2024年1月2日"}}));
  EXPECT_EQ(reader.MetadataValue("Lumo"), "42");
  EXPECT_EQ(reader.MetadataValue("X"), "");
  EXPECT_EQ(Headwords(reader),
            (std::vector<std::string>{"apple", "bee", "empty", "New York, NY", "苹果"}));
  const std::vector<std::string> explanations{"red fruit", "insect", "", "city", "水果"};
  std::string text;
  for (size_t i = 0; i < explanations.size(); ++i) {
    ASSERT_EQ(reader.ReadExplanation(i, &text), PackageError::kNone);
    EXPECT_EQ(text, explanations[i]) << i;
  }
  EXPECT_EQ(reader.DataLength(), 25u);
  EXPECT_EQ(reader.ChunkCount(), 1u);
  EXPECT_EQ(reader.ReadExplanation(5, &text), PackageError::kEntryOutsideData);
  EXPECT_EQ(reader.ReadData(20, 8, &text), PackageError::kEntryOutsideData);
  EXPECT_TRUE(VerifyPackage(path).empty());
}

TEST(PackageReader, ExplanationsAcrossChunkBoundaries) {
  // Explanations of a chunk length and around it, so that entries start, end and span
  // chunk boundaries; read in an order that defeats the one-chunk cache too.
  const std::vector<size_t> lengths{58314, 1, 58315, 58316, 150000, 3, 0, 58315 * 2 + 1};
  std::string list;
  std::vector<std::string> expected;
  for (size_t i = 0; i < lengths.size(); ++i) {
    expected.push_back(Prose(lengths[i], static_cast<uint32_t>(i)));
    list += "w" + std::to_string(i) + "\t" + expected.back() + "\n";
  }
  TempDir dir;
  const std::wstring path = MakePackage(dir, list);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  ASSERT_EQ(reader.EntryCount(), lengths.size());
  EXPECT_GT(reader.ChunkCount(), 7u);
  std::string text;
  for (size_t i : {7, 0, 4, 1, 2, 3, 5, 6, 4, 7}) {
    ASSERT_EQ(reader.ReadExplanation(i, &text), PackageError::kNone);
    EXPECT_TRUE(text == expected[i]) << "entry " << i << ": " << text.size() << " bytes";
  }
  EXPECT_TRUE(VerifyPackage(path).empty());
}

TEST(PackageReader, EmptyDictionary) {
  TempDir dir;
  const std::wstring path = reader_test::MakeEmptyPackage(dir);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ(reader.EntryCount(), 0u);
  EXPECT_EQ(reader.DataLength(), 0u);
  EXPECT_EQ(reader.ChunkCount(), 0u);
  EXPECT_TRUE(reader.Lookup("anything").empty());
  EXPECT_TRUE(VerifyPackage(path).empty());
}

TEST(PackageReader, UncompressedDataSection) {
  // The format also allows the plain data file as the data section (compressed = 0).
  const std::string meta("N\0=\0x\0", 6);
  const std::string index = std::string("ab\0\0\0\0\0\2\0\0\0", 11) +
                            std::string("cd\0\2\0\0\0\3\0\0\0", 11);
  std::string bytes(32, '\0');
  auto put32 = [&bytes](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
  };
  put32(0, 38);
  bytes[4] = 1;
  put32(8, 38);
  put32(12, 22);
  put32(16, 60);
  put32(20, 5);
  put32(24, 2);
  bytes += meta + index + "xyzzy";
  reader_test::RestampChecksum(&bytes);
  TempDir dir;
  lumo_test::WriteBytes(dir.File(L"plain.ldic"), bytes);

  CPackageReader reader;
  ASSERT_TRUE(reader.Open(dir.File(L"plain.ldic")));
  EXPECT_FALSE(reader.IsCompressed());
  std::string text;
  EXPECT_EQ(reader.ReadExplanation(1, &text), PackageError::kNone);
  EXPECT_EQ(text, "zzy");
  EXPECT_TRUE(VerifyPackage(dir.File(L"plain.ldic")).empty());
}

TEST(PackageReader, LookupExactMatchesFirstThenOtherCase) {
  TempDir dir;
  const std::wstring path = MakePackage(
      dir, "apple\t1\nApple\t2\nAPPLE\t3\napple\t4\napples\t5\nappl\t6\nb\t7\n");
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  auto explanations = [&reader](const std::string& word) {
    std::string all, text;
    for (size_t i : reader.Lookup(word)) {
      EXPECT_EQ(reader.ReadExplanation(i, &text), PackageError::kNone);
      all += text;
    }
    return all;
  };
  EXPECT_EQ(explanations("apple"), "1432");  // duplicates in word-list order, then APPLE, Apple
  EXPECT_EQ(explanations("Apple"), "2314");
  EXPECT_EQ(explanations("aPPLE"), "3214");
  EXPECT_EQ(explanations("appl"), "6");
  EXPECT_EQ(explanations("b"), "7");
  EXPECT_EQ(explanations("appla"), "");
  EXPECT_EQ(explanations(""), "");
  EXPECT_EQ(explanations("zzz"), "");
}

TEST(PackageReader, LookupFindsEveryHeadwordOfALargeList) {
  // 20,000 lines: letter headwords with case variants and duplicates, and Chinese ones.
  std::vector<std::pair<std::string, std::string>> lines;
  for (int i = 0; lines.size() < 20000; ++i) {
    std::string word;
    for (int v = i; word.empty() || v > 0; v /= 26) word.push_back(static_cast<char>('a' + v % 26));
    if (i % 13 == 0) word = "词" + word;
    lines.emplace_back(word, "e" + std::to_string(lines.size()));
    if (i % 7 == 0) {
      std::string upper = word;
      upper.back() = static_cast<char>(std::toupper(static_cast<unsigned char>(upper.back())));
      lines.emplace_back(upper, "e" + std::to_string(lines.size()));
    }
    if (i % 11 == 0) lines.emplace_back(word, "e" + std::to_string(lines.size()));
  }
  lines.resize(20000);
  std::string list;
  std::map<std::string, std::multiset<std::string>> exact, folded;
  auto fold = [](std::string s) {
    for (char& c : s) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
  };
  for (const auto& [word, text] : lines) {
    list += word + "\t" + text + "\n";
    exact[word].insert(text);
    folded[fold(word)].insert(text);
  }
  TempDir dir;
  const std::wstring path = MakePackage(dir, list);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  ASSERT_EQ(reader.EntryCount(), 20000u);

  std::string text;
  for (const auto& [word, texts] : exact) {
    const std::vector<size_t> found = reader.Lookup(word);
    ASSERT_EQ(found.size(), folded[fold(word)].size()) << word;
    std::multiset<std::string> exactFound, allFound;
    for (size_t k = 0; k < found.size(); ++k) {
      ASSERT_EQ(reader.ReadExplanation(found[k], &text), PackageError::kNone);
      if (k < texts.size()) {
        ASSERT_EQ(reader.Headword(found[k]), word);
        exactFound.insert(text);
      } else {
        ASSERT_NE(reader.Headword(found[k]), word);
      }
      allFound.insert(text);
    }
    ASSERT_EQ(exactFound, texts) << word;
    ASSERT_EQ(allFound, folded[fold(word)]) << word;
  }
  EXPECT_TRUE(VerifyPackage(path).empty());
}

}  // namespace
