#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/entry_order.h"

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

TEST(EntryOrder, DuplicatesAreOrderedByExplanationAndOffsetsFollowSortedOrder) {
  std::vector<DictEntry> entries = {
      {"bee", "insect", 0, 6}, {"apple", "red fruit", 0, 9}, {"bee", "", 0, 0}, {"bee", "buzz", 0, 4}};
  // Whatever order the duplicates come in, the result is the same.
  for (int round = 0; round < 3; ++round) {
    std::rotate(entries.begin(), entries.begin() + 1, entries.end());
    std::vector<DictEntry> sorted = entries;
    SortEntries(&sorted);
    EXPECT_EQ(AssignOffsets(&sorted), 19u);
    ASSERT_EQ(sorted.size(), 4u);
    const char* explanations[] = {"red fruit", "", "buzz", "insect"};
    const uint32_t offsets[] = {0, 9, 9, 13};  // the empty explanation shares its offset
    for (size_t i = 0; i < sorted.size(); ++i) {
      EXPECT_EQ(sorted[i].explanation, explanations[i]);
      EXPECT_EQ(sorted[i].offset, offsets[i]);
    }
  }
}

}  // namespace
