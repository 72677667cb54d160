#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "package/index_order.h"

namespace {

using Words = std::vector<std::string>;

CSortedIndex IndexOf(const Words& words) {
  CSortedIndex index;
  for (size_t i = 0; i < words.size(); ++i)
    EXPECT_TRUE(index.Add(words[i], static_cast<uint32_t>(i % 7)));
  return index;
}

// The list positions of the words in index order.
std::vector<size_t> SortedPositions(const Words& words, unsigned threads) {
  CSortedIndex index = IndexOf(words);
  EXPECT_TRUE(SortIndex(&index, threads));
  std::vector<size_t> positions;
  for (size_t k = 0; k < index.size(); ++k) {
    positions.push_back(index.ListPosition(k));
    EXPECT_EQ(index[k].word, words[positions.back()]);
  }
  return positions;
}

Words Sorted(const Words& words) {
  Words out;
  for (size_t i : SortedPositions(words, 1)) out.push_back(words[i]);
  return out;
}

TEST(EntryOrder, CaseFoldedFirstThenBytes) {
  EXPECT_EQ(Sorted({"cherry", "Banana", "apple"}), (Words{"apple", "Banana", "cherry"}));
  EXPECT_EQ(Sorted({"apple", "Apple", "APPLE"}), (Words{"APPLE", "Apple", "apple"}));
  EXPECT_EQ(Sorted({"abc", "ab", "a"}), (Words{"a", "ab", "abc"}));
  EXPECT_EQ(Sorted({"aB", "a_b"}), (Words{"a_b", "aB"}));  // '_' < folded 'b'
  EXPECT_EQ(Sorted({"\xE4\xBD\xA0", "zebra", "~"}), (Words{"zebra", "~", "\xE4\xBD\xA0"}));
  EXPECT_EQ(Sorted({"Z", "a", "["}), (Words{"[", "a", "Z"}));  // 'Z' folds to 'z', after '['
  // Case decides only between headwords equal without it, wherever the case differs.
  EXPECT_EQ(Sorted({"abcdefghijklmnopqrsT", "Abcdefghijklmnopqrst", "abcdefghijklmnopqrst"}),
            (Words{"Abcdefghijklmnopqrst", "abcdefghijklmnopqrsT", "abcdefghijklmnopqrst"}));
}

TEST(EntryOrder, CompareIsAStrictOrder) {
  EXPECT_LT(CompareHeadwords("Apple", "apple"), 0);
  EXPECT_GT(CompareHeadwords("apple", "Apple"), 0);
  EXPECT_EQ(CompareHeadwords("same", "same"), 0);
  EXPECT_FALSE(EntryLess(DictEntry{"x", "1", 0, 0}, DictEntry{"x", "2", 0, 0}));
}

TEST(EntryOrder, DuplicatesKeepListOrderAndOffsetsFollowSortedOrder) {
  CSortedIndex index;
  for (const auto& [word, size] : {std::pair<const char*, uint32_t>{"bee", 6}, {"apple", 9}, {"bee", 0}, {"bee", 4}})
    ASSERT_TRUE(index.Add(word, size));
  ASSERT_TRUE(SortIndex(&index));
  EXPECT_EQ(AssignOffsets(&index), 19u);
  ASSERT_EQ(index.size(), 4u);
  const size_t positions[] = {1, 0, 2, 3};
  const uint32_t offsets[] = {0, 9, 15, 15};  // the empty explanation shares its offset
  for (size_t k = 0; k < index.size(); ++k) {
    EXPECT_EQ(index.ListPosition(k), positions[k]);
    EXPECT_EQ(index[k].offset, offsets[k]);
    EXPECT_EQ(index[k].size, index.Record(positions[k]).size);
  }
}

// Lists built to reach every path of the sort (keys laid out by one, two or three bytes,
// buckets larger than its scratch space, keys loaded again and again for prefixes of any
// length, repeated headwords, case variants at any depth): every thread count gives
// exactly the order of a plain stable sort and counts its repeated headwords, and a
// cancelled sort reports it.
TEST(EntryOrder, EveryKindOfListMatchesAStableSortForEveryThreadCount) {
  std::mt19937 random(12345);
  const auto pick = [&random](const std::vector<std::string>& from) { return from[random() % from.size()]; };
  const std::vector<std::string> pieces = {"a", "A", "b", "B", "_", "z", "Z", "\xE4\xBD\xA0", "ab", "AB"};
  const std::vector<std::string> syllables = {"ka", "Ka", "ro", "mi", "ta", "n", "shi", "Shi", "to", "ri"};
  const std::string longPrefix(37, 'q');
  // Lists from 65536 entries on are sorted by two threads, when there are two.
  struct Kind {
    const char* name;
    size_t size;
    std::function<std::string(size_t)> make;
  };
  const std::vector<Kind> kinds = {
      {"random pieces", 70000, [&](size_t) {
         std::string w;
         for (int k = static_cast<int>(random() % 12); k > 0; --k) w += pick(pieces);
         return w.empty() ? std::string("e") : w;
       }},
      {"numbered series with case variants", 1500, [&](size_t) {
         char digits[16];
         std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(random() % 40000));
         return std::string(random() % 3 == 0 ? "Word" : "word") + digits;
       }},
      {"syllables", 70000, [&](size_t) {
         std::string w;
         for (int k = 2 + static_cast<int>(random() % 6); k > 0; --k) w += pick(syllables);
         return w;
       }},
      {"long shared prefixes", 20000, [&](size_t) {
         std::string w = longPrefix + (random() % 2 ? "X" : "x") + longPrefix;
         for (int k = static_cast<int>(random() % 4); k > 0; --k) w += pick(pieces);
         return w;
       }},
      {"few initial pairs, any case", 70000, [&](size_t) {  // laid out by up to three bytes
         std::string w = pick({"a", "A"}) + pick({"b", "B", ""}) + pick(pieces);
         return random() % 16 ? w + pick(syllables) : w;
       }},
      {"nested prefixes, each ten bytes longer", 1500, [&](size_t i) {
         return std::string(10 * (1 + (i * 7919) % 400), random() % 8 ? 'm' : 'M');
       }},
  };
  for (const auto& [name, size, make] : kinds) {
    SCOPED_TRACE(name);
    Words words(size);
    for (size_t i = 0; i < words.size(); ++i) words[i] = make(i);
    std::vector<size_t> expected(words.size());
    std::iota(expected.begin(), expected.end(), size_t{0});
    std::stable_sort(expected.begin(), expected.end(), [&words](size_t a, size_t b) {
      return CompareHeadwords(words[a], words[b]) < 0;
    });
    // Headwords that occur more than once, byte for byte, and the list positions of their
    // entries after the first.
    uint64_t repeated = 0;
    std::vector<size_t> folded;
    for (size_t k = 1; k < expected.size(); ++k) {
      repeated += words[expected[k]] == words[expected[k - 1]] &&
                  (k < 2 || words[expected[k - 1]] != words[expected[k - 2]]);
      if (words[expected[k]] == words[expected[k - 1]]) folded.push_back(expected[k]);
    }
    std::sort(folded.begin(), folded.end());
    for (unsigned threads : {1u, 2u, 0u}) {
      ASSERT_EQ(SortedPositions(words, threads), expected) << "threads " << threads;
      CSortedIndex index = IndexOf(words);
      ASSERT_TRUE(SortIndex(&index, threads));
      EXPECT_EQ(index.RepeatedHeadwords(), repeated) << "threads " << threads;
      EXPECT_EQ(index.NextFolded(0), index.size()) << "kept apart, nothing is folded";
      index = IndexOf(words);
      index.SetDuplicatePolicy(DuplicatePolicy::kFirst);
      ASSERT_TRUE(SortIndex(&index, threads));
      std::vector<size_t> marked;
      for (size_t i = index.NextFolded(0); i < index.size(); i = index.NextFolded(i + 1)) {
        EXPECT_TRUE(index.Folded(i));
        marked.push_back(i);
      }
      EXPECT_EQ(marked, folded) << "threads " << threads;
      uint64_t foldedBytes = 0;
      for (const size_t i : folded) foldedBytes += words[i].size();
      EXPECT_EQ(index.FoldedWordBytes(), foldedBytes);
      EXPECT_EQ(index.EntryCount(), words.size() - folded.size());
      index = IndexOf(words);
      const std::atomic<bool> stopped{false};
      EXPECT_FALSE(SortIndex(&index, threads, &stopped));
    }
  }
}

}  // namespace
