#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "package/index_order.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::vector<DictEntry> entries;
  for (std::string& w : words) entries.push_back(DictEntry{w, "", 0, 0});
  SortEntries(&entries);
  std::vector<std::string> out;
  for (const DictEntry& e : entries) out.emplace_back(e.word);
  return out;
}

using Words = std::vector<std::string>;

TEST(EntryOrder, CaseFoldedFirstThenBytes) {
  EXPECT_EQ(Sorted({"cherry", "Banana", "apple"}), (Words{"apple", "Banana", "cherry"}));
  EXPECT_EQ(Sorted({"apple", "Apple", "APPLE"}), (Words{"APPLE", "Apple", "apple"}));
  EXPECT_EQ(Sorted({"abc", "ab", ""}), (Words{"", "ab", "abc"}));
  EXPECT_EQ(Sorted({"aB", "a_b"}), (Words{"a_b", "aB"}));  // '_' < folded 'b'
  EXPECT_EQ(Sorted({"\xE4\xBD\xA0", "zebra", "~"}), (Words{"zebra", "~", "\xE4\xBD\xA0"}));
  EXPECT_EQ(Sorted({"Z", "a", "["}), (Words{"[", "a", "Z"}));  // 'Z' folds to 'z', after '['
}

TEST(EntryOrder, CompareIsAStrictOrder) {
  EXPECT_LT(CompareHeadwords("Apple", "apple"), 0);
  EXPECT_GT(CompareHeadwords("apple", "Apple"), 0);
  EXPECT_EQ(CompareHeadwords("same", "same"), 0);
  EXPECT_FALSE(EntryLess(DictEntry{"x", "1", 0, 0}, DictEntry{"x", "2", 0, 0}));
}

TEST(EntryOrder, DuplicatesKeepListOrderAndOffsetsFollowSortedOrder) {
  std::vector<DictEntry> entries = {
      {"bee", "insect", 0, 6}, {"apple", "red fruit", 0, 9}, {"bee", "", 0, 0}, {"bee", "buzz", 0, 4}};
  SortEntries(&entries);
  EXPECT_EQ(AssignOffsets(&entries), 19u);
  ASSERT_EQ(entries.size(), 4u);
  const char* explanations[] = {"red fruit", "insect", "", "buzz"};
  const uint32_t offsets[] = {0, 9, 15, 15};  // the empty explanation shares its offset
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].explanation, explanations[i]);
    EXPECT_EQ(entries[i].offset, offsets[i]);
  }
}

// Many headwords that share long prefixes and differ in case or in multi-byte
// characters: every thread count gives exactly the order of a plain stable sort.
TEST(EntryOrder, LargeListsMatchAStableSortForEveryThreadCount) {
  const std::string pieces[] = {"a", "A", "b", "B", "_", "z", "Z", "\xE4\xBD\xA0", "ab", "AB"};
  std::mt19937 random(12345);
  std::vector<std::string> words(100000);
  std::vector<std::string> explanations(words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    const int length = static_cast<int>(random() % 12);
    for (int k = 0; k < length; ++k) words[i] += pieces[random() % std::size(pieces)];
    explanations[i] = std::to_string(i);
  }
  std::vector<DictEntry> reference;
  for (size_t i = 0; i < words.size(); ++i) reference.push_back({words[i], explanations[i], 0, 0});
  std::stable_sort(reference.begin(), reference.end(), EntryLess);
  for (unsigned threads : {1u, 2u, 0u}) {
    std::vector<DictEntry> entries;
    for (size_t i = 0; i < words.size(); ++i) entries.push_back({words[i], explanations[i], 0, 0});
    SortEntries(&entries, threads);
    ASSERT_EQ(entries.size(), reference.size());
    for (size_t i = 0; i < entries.size(); ++i)
      ASSERT_EQ(entries[i].explanation, reference[i].explanation) << "threads " << threads << " at " << i;
    // A cancelled sort stops and leaves the list as it found it.
    const std::atomic<bool> stopped{false};
    std::vector<DictEntry> unsorted;
    for (size_t i = 0; i < words.size(); ++i) unsorted.push_back({words[i], explanations[i], 0, 0});
    EXPECT_FALSE(SortEntries(&unsorted, threads, &stopped));
    for (size_t i = 0; i < unsorted.size(); ++i) ASSERT_EQ(unsorted[i].explanation, explanations[i]);
  }
}

}  // namespace
