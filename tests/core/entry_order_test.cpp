#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/entry_order.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::vector<DictEntry> entries;
  for (std::string& w : words) entries.push_back(DictEntry{w, "", 0, 0});
  SortEntries(&entries);
  std::vector<std::string> out;
  for (const DictEntry& e : entries) out.push_back(e.word);
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
  EXPECT_EQ(entries[0].word, "apple");
  EXPECT_EQ(entries[1].explanation, "insect");
  EXPECT_EQ(entries[2].explanation, "");
  EXPECT_EQ(entries[3].explanation, "buzz");
  const uint32_t offsets[] = {0, 9, 15, 15};  // the empty explanation shares its offset
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].offset, offsets[i]);
}

}  // namespace
