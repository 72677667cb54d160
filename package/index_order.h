#pragma once
// The index order: ASCII letters compared without regard to case first, plain unsigned
// bytes second (the order of StarDict index files); and the index a conversion builds in
// that order.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "common/dict_entry.h"
#include "common/text_store.h"

// Negative, zero or positive as a sorts before, with or after b.
int CompareHeadwords(std::string_view a, std::string_view b);

// The first key of that order alone: ASCII letters compared without regard to case,
// every other byte as an unsigned value, a shorter headword first.
int CompareHeadwordsIgnoringCase(std::string_view a, std::string_view b);

bool EntryLess(const DictEntry& a, const DictEntry& b);

// One entry of the index in 16 bytes: where its headword lies in the index's store, and
// its explanation's size and place in the data file. For short lines the records and the
// sort must not outweigh the text, so nothing here is a pointer.
struct EntryRecord {
  uint32_t wordAt = 0;
  uint32_t wordLength = 0;
  uint32_t size = 0;    // bytes of the explanation
  uint32_t offset = 0;  // where it lies in the data file, once the index is sorted
};
static_assert(sizeof(EntryRecord) == 16);

// What becomes of entries whose headwords are byte for byte the same (case variants are
// different headwords). Equal headwords lie together once sorted, in list order.
enum class DuplicatePolicy : uint8_t {
  kKeep,   // each stays an entry of its own
  kMerge,  // one entry: their explanations in list order, a line break between each two
  kFirst,  // the first in list order alone; the others are dropped
};

// The entries of a word list: records in list order, kept in blocks so that growing never
// copies them (a vector would hold its old and new arrays at once), their headwords in a
// store of their own, and once sorted the list positions in index order.
class CSortedIndex {
 public:
  CSortedIndex() = default;
  CSortedIndex(CSortedIndex&&) = default;
  CSortedIndex& operator=(CSortedIndex&&) = default;

  // Adds an entry after the others in list order; false, adding nothing, when the
  // headwords pass what 32-bit positions can address.
  bool Add(std::string_view word, uint32_t explanationSize);

  // What sorting, offsets and FoldRepeats do with repeated headwords; set before sorting.
  void SetDuplicatePolicy(DuplicatePolicy policy) { m_policy = policy; }
  DuplicatePolicy Duplicates() const { return m_policy; }

  // The entries read, in list order.
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // The entries the package holds: all of them, less the repeats folded away.
  size_t EntryCount() const { return m_size - m_foldedCount; }

  // The entry at list position i.
  EntryRecord& Record(size_t i) { return m_blocks[i >> kBlockBits][i & kBlockMask]; }
  const EntryRecord& Record(size_t i) const { return m_blocks[i >> kBlockBits][i & kBlockMask]; }
  std::string_view Word(const EntryRecord& r) const { return m_words.View(r.wordAt, r.wordLength); }

  // The list position of the kth entry in index order (list order until sorted). Until
  // FoldRepeats every entry read has its place; after it, only the EntryCount() entries
  // the package holds.
  size_t ListPosition(size_t k) const { return m_order ? m_order[k] : k; }
  // The kth entry in index order; its explanation is not held here and is left empty.
  DictEntry operator[](size_t k) const {
    const EntryRecord& r = Record(ListPosition(k));
    return DictEntry{Word(r), {}, r.offset, r.size};
  }

  // Once sorted: how many headwords occur more than once, byte for byte.
  uint64_t RepeatedHeadwords() const { return m_repeatedHeadwords; }

  // Once sorted under kMerge or kFirst: whether the entry at list position i repeats the
  // headword of an earlier one, into whose entry it is merged or for which it is dropped.
  bool Folded(size_t i) const { return m_folded && (m_folded[i >> 6] >> (i & 63) & 1) != 0; }
  uint64_t FoldedEntries() const { return m_foldedCount; }
  // The bytes of the folded entries' headwords.
  uint64_t FoldedWordBytes() const { return m_foldedWordBytes; }
  // The list position of the first folded entry from list position i on; size() when none.
  size_t NextFolded(size_t i) const;

  // Once the data file holds the explanations where AssignOffsets (or its writer) put
  // them: the repeats leave the index order, and under kMerge the entry that stays spans
  // its group's explanations and the line breaks between them.
  void FoldRepeats();

  // Bytes held for the entries, used or not.
  uint64_t MemoryBytes() const {
    return m_words.Capacity() + m_blocks.size() * (sizeof(EntryRecord) << kBlockBits) +
           (m_order ? m_size * sizeof(uint32_t) : 0) + (m_folded ? FoldedWords() * sizeof(uint64_t) : 0);
  }

 private:
  friend bool SortIndex(CSortedIndex*, unsigned, const std::atomic<bool>*);

  static constexpr int kBlockBits = 16;
  static constexpr size_t kBlockMask = (size_t{1} << kBlockBits) - 1;

  struct FreeMemory {
    void operator()(void* p) const { std::free(p); }
  };

  size_t FoldedWords() const { return (m_size + 63) / 64; }
  // Marks list position i as a repeat of the entry before it in index order.
  void MarkFolded(size_t i);

  CTextStore m_words;
  std::vector<std::unique_ptr<EntryRecord[]>> m_blocks;
  size_t m_size = 0;
  uint64_t m_repeatedHeadwords = 0;
  DuplicatePolicy m_policy = DuplicatePolicy::kKeep;
  // One bit per list position, made by the sort only where repeats are folded and found.
  std::unique_ptr<uint64_t[]> m_folded;
  uint64_t m_foldedCount = 0;
  uint64_t m_foldedWordBytes = 0;
  // Made in place of the sort keys, which realloc shrinks to it, so the sort needs no
  // room for both.
  std::unique_ptr<uint32_t[], FreeMemory> m_order;
};

// Bytes per entry the sort takes beside the index while it runs, for its keys.
constexpr size_t kSortBytesPerEntry = 16;

// Puts the index into index order. Entries with byte-identical headwords keep their
// word-list order, so the same list always gives the same package.
// threads: how many threads may share the work (0: one per core); the order is the same
// for every count. Once *running (when given) is cleared the sort stops within a few
// milliseconds and returns false, leaving the index unsorted.
bool SortIndex(CSortedIndex* index, unsigned threads = 1,
               const std::atomic<bool>* running = nullptr);

// Gives each entry of the sorted index its offset in the data file; returns the total.
// Under kMerge a line break goes before each repeat's explanation; under kFirst the
// repeats take no room. Once *running (when given) is cleared it stops within a few
// milliseconds, leaving the rest.
uint64_t AssignOffsets(CSortedIndex* index, const std::atomic<bool>* running = nullptr);
