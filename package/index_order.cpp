#include "package/index_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>

#include "common/memory_fault.h"
#include "common/prefetch.h"
#include "common/threads.h"

namespace {

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// Eight bytes as one number, the first byte highest, so that numbers order as the bytes.
uint64_t BigEndianWord(const unsigned char* bytes) {
  uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word |= static_cast<uint64_t>(bytes[i]) << (56 - 8 * i);
  return word;
}

constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr uint64_t EachByte(unsigned char b) { return 0x0101010101010101ull * b; }

// The high bit of every byte of word that is an upper-case ASCII letter.
uint64_t UpperCaseLetters(uint64_t word) {
  const uint64_t atLeastA = (word | kHighBits) - EachByte('A');
  const uint64_t pastZ = (word | kHighBits) - EachByte('Z' + 1);
  return atLeastA & ~pastZ & ~word & kHighBits;
}

// Sorting 16-byte keys that decide on their own is several times faster than sorting the
// entries, whose headwords lie elsewhere in memory. A key holds ten folded bytes of its
// headword from some depth on; keys that share all ten are loaded again with the next ten
// (most significant digit first, so a range that shares a long prefix is read once per
// ten bytes, never compared byte by byte over and over). Only headwords equal without
// regard to case are compared, and only with each other.
struct SortKey {
  uint64_t folded;  // folded bytes depth to depth + 7
  uint32_t index;   // position in the word list: identical headwords keep their order
  uint16_t next;    // folded bytes depth + 8 and depth + 9
  uint8_t upperCase;
  uint8_t isLong;   // the key alone cannot order it against a key with the same bytes
};
static_assert(sizeof(SortKey) == kSortBytesPerEntry);

// Ranges this short are sorted by comparison.
constexpr size_t kSmallRange = 64;

// The folded bytes a key holds; a key's digit at this place is its case mask.
constexpr int kKeyBytes = 10;

// Ranges up to this many keys are sorted by counting passes over their remaining digits
// in scratch space that stays in the cache; larger ones are first split in place.
constexpr size_t kScratchKeys = size_t{1} << 16;

// The keys are first laid out in buckets by one, two or three folded bytes: those of
// two bytes are numbered in a table of kPairs, and at most this many are used.
constexpr size_t kPairs = size_t{1} << 16;
constexpr size_t kMaxLayoutBuckets = 4096;
// Marks a pair's bucket in that table as the first of 256, by the third byte.
constexpr uint32_t kByThird = 0x80000000u;
constexpr uint16_t kNoSlot = 0xFFFF;

// A headword's folded byte i, zero past its end as in its key.
inline unsigned FoldedByte(std::string_view word, size_t i) {
  return i < word.size() ? FoldAscii(static_cast<unsigned char>(word[i])) : 0;
}

// The first two folded bytes of a headword, the first one high.
inline unsigned LeadingPair(std::string_view word) { return FoldedByte(word, 0) << 8 | FoldedByte(word, 1); }

// The key's digit d: a folded byte, or past them the case mask, inverted so that upper
// case comes first.
inline unsigned KeyByte(const SortKey& key, int d) {
  if (d < 8) return static_cast<unsigned>(key.folded >> (56 - 8 * d)) & 0xFF;
  if (d < kKeyBytes) return static_cast<unsigned>(key.next >> (8 * (9 - d))) & 0xFF;
  return 0xFFu - key.upperCase;
}

// The key of word's bytes from depth on: ten of them folded (the zero padding of a short
// headword puts it before its longer relatives, as headwords hold no NUL bytes). At depth
// 0 it also holds, for the first eight bytes, one bit per upper-case letter, the first
// byte highest: two headwords of up to eight bytes equal without regard to case differ
// first where their masks do, and there the upper-case letter (the smaller byte) comes
// first, so the larger mask sorts first. Deeper keys have no mask: there the case of
// earlier bytes would decide, which only a comparison can tell.
SortKey MakeKey(std::string_view word, size_t depth, size_t index) {
  unsigned char bytes[16] = {};
  if (depth < word.size()) std::memcpy(bytes, word.data() + depth, std::min<size_t>(word.size() - depth, 10));
  const uint64_t head = BigEndianWord(bytes);
  const uint64_t tail = BigEndianWord(bytes + 8);
  const uint64_t upper = UpperCaseLetters(head);
  // A letter's high bit moved down to 0x20 turns it into lower case; the eight high bits
  // gathered into the top byte make the mask.
  const bool atStart = depth == 0;
  return SortKey{head | (upper >> 2), static_cast<uint32_t>(index),
                 static_cast<uint16_t>((tail | (UpperCaseLetters(tail) >> 2)) >> 48),
                 static_cast<uint8_t>(atStart ? ((upper >> 7) * 0x0102040810204080ull) >> 56 : 0),
                 static_cast<uint8_t>(!atStart || word.size() > 8)};
}

// The order of two keys loaded at the same depth; headwords are read only when the keys
// cannot tell.
class CKeyLess {
 public:
  explicit CKeyLess(const CSortedIndex& index) : m_index(index) {}

  std::string_view Word(const SortKey& key) const { return m_index.Word(m_index.Record(key.index)); }
  uint32_t Length(const SortKey& key) const { return m_index.Record(key.index).wordLength; }

  bool operator()(const SortKey& x, const SortKey& y) const {
    if (x.folded != y.folded) return x.folded < y.folded;
    if (x.next != y.next) return x.next < y.next;
    if (x.isLong | y.isLong) {
      const int order = CompareHeadwords(Word(x), Word(y));
      if (order != 0) return order < 0;
    } else if (x.upperCase != y.upperCase) {
      return x.upperCase > y.upperCase;
    }
    return x.index < y.index;
  }

  // Whether the keys of [begin, end) all stand for one headword, byte for byte.
  bool SameHeadword(const SortKey* begin, const SortKey* end) const {
    const std::string_view first = Word(*begin);
    for (const SortKey* k = begin + 1; k < end; ++k)
      if (Word(*k) != first) return false;
    return true;
  }

 private:
  const CSortedIndex& m_index;
};

// Sorts ranges of keys whose folded bytes before some depth are equal, from a stack of
// ranges still to do rather than by recursion, so that headwords sharing prefixes of any
// length cannot exhaust a thread's stack. A range that fits the scratch space is sorted
// by its remaining digits, least significant first, each pass stable; a larger one is
// split in place by its next byte.
class CKeySorter {
 public:
  // Once *running (when given) is cleared, what is left stays unsorted.
  CKeySorter(const CKeyLess& less, size_t scratch, const std::atomic<bool>* running)
      : m_less(less), m_running(running) {
    NoteLargeAllocation();
    m_scratch.resize(scratch);
  }

  // Sorts [begin, end), whose keys were loaded at depth 0 and share their folded bytes
  // before depth, and list equal keys in word-list order.
  void Sort(SortKey* begin, SortKey* end, size_t depth) {
    m_tasks.push_back({begin, end, depth, 0, true});
    while (!m_tasks.empty()) {
      if (m_running != nullptr && !m_running->load(std::memory_order_relaxed)) return;
      const Task task = m_tasks.back();
      m_tasks.pop_back();
      Run(task);
    }
  }

 private:
  // Keys in [begin, end) were loaded at base and share their folded bytes before depth.
  struct Task {
    SortKey* begin;
    SortKey* end;
    size_t depth;
    size_t base;
    bool inOrder;
  };

  void Run(const Task& t) {
    const size_t size = static_cast<size_t>(t.end - t.begin);
    if (size < 2) return;
    if (t.depth == t.base + kKeyBytes) {
      SettleEqualKeys(t.begin, t.end, t.base, t.inOrder);
    } else if (size < kSmallRange) {
      std::sort(t.begin, t.end, m_less);
    } else if (size <= m_scratch.size()) {
      SortByDigits(t.begin, t.end, static_cast<int>(t.depth - t.base));
      SettleTies(t.begin, t.end, t.base, t.inOrder);
    } else {
      std::array<size_t, 257> bounds;
      SplitByByte(t.begin, t.end, static_cast<int>(t.depth - t.base), &bounds);
      for (size_t b = 0; b < 256; ++b)
        m_tasks.push_back({t.begin + bounds[b], t.begin + bounds[b + 1], t.depth + 1, t.base, false});
    }
  }

  // Stable counting passes over the digits from the case mask back to digit first; a
  // digit that all keys share costs no pass. One reading of the range counts every digit
  // at once.
  void SortByDigits(SortKey* begin, SortKey* end, int first) {
    const size_t size = static_cast<size_t>(end - begin);
    const int digits = kKeyBytes + 1 - first;
    for (int d = 0; d < digits; ++d) m_counts[d].fill(0);
    for (const SortKey* k = begin; k < end; ++k)
      for (int d = 0; d < digits; ++d) ++m_counts[d][KeyByte(*k, first + d)];
    SortKey* from = begin;
    SortKey* to = m_scratch.data();
    for (int d = digits - 1; d >= 0; --d) {
      std::array<uint32_t, 256>& count = m_counts[d];
      if (count[KeyByte(*from, first + d)] == size) continue;
      uint32_t at = 0;
      for (uint32_t& c : count) {
        const uint32_t n = c;
        c = at;
        at += n;
      }
      for (const SortKey* k = from; k < from + size; ++k)
        to[count[KeyByte(*k, first + d)]++] = *k;
      std::swap(from, to);
    }
    if (from != begin) std::copy(from, from + size, begin);
  }

  // After the counting passes, runs of keys with equal folded bytes are settled.
  void SettleTies(SortKey* begin, SortKey* end, size_t base, bool inOrder) {
    for (SortKey* run = begin; run < end;) {
      SortKey* last = run + 1;
      while (last < end && last->folded == run->folded && last->next == run->next) ++last;
      if (last - run > 1) SettleEqualKeys(run, last, base, inOrder);
      run = last;
    }
  }

  // Keys of [begin, end) share all their folded bytes. Short headwords at depth 0 are
  // ordered by their case masks (a range in word-list order already is); headwords
  // longer than the keys are loaded again with their next ten bytes; headwords that end
  // within the keys are equal without regard to case: one repeated headword keeps
  // word-list order, and case variants are compared.
  void SettleEqualKeys(SortKey* begin, SortKey* end, size_t base, bool inOrder) {
    // Headwords of nine bytes or more have a folded byte 8, shorter ones do not: equal
    // keys at depth 0 are either all short or all long.
    if (!begin->isLong) {
      if (!inOrder) std::sort(begin, end, m_less);
      return;
    }
    const size_t depth = base + kKeyBytes;
    uint32_t longest = 0;
    for (const SortKey* k = begin; k < end; ++k) longest = std::max(longest, m_less.Length(*k));
    if (longest > depth) {
      for (SortKey* k = begin; k < end; ++k) {
        if (k + 8 < end) PrefetchText(m_less.Word(k[8]).data() + depth);
        *k = MakeKey(m_less.Word(*k), depth, k->index);
      }
      m_tasks.push_back({begin, end, depth, depth, inOrder});
    } else if (!m_less.SameHeadword(begin, end)) {
      std::sort(begin, end, m_less);
    } else if (!inOrder) {
      std::sort(begin, end, [](const SortKey& x, const SortKey& y) { return x.index < y.index; });
    }
  }

  // Moves the keys of [begin, end) into 256 buckets by their digit d, in place (each key
  // is swapped straight to its bucket); bounds[b] .. bounds[b + 1] is bucket b, counted
  // from begin.
  static void SplitByByte(SortKey* begin, SortKey* end, int d, std::array<size_t, 257>* bounds) {
    std::array<size_t, 256> count{};
    for (const SortKey* k = begin; k < end; ++k) ++count[KeyByte(*k, d)];
    std::array<size_t, 256> next{};
    (*bounds)[0] = 0;
    for (size_t b = 0; b < 256; ++b) {
      next[b] = (*bounds)[b];
      (*bounds)[b + 1] = (*bounds)[b] + count[b];
    }
    for (size_t b = 0; b < 256; ++b) {
      while (next[b] < (*bounds)[b + 1]) {
        SortKey carried = begin[next[b]];
        unsigned target = KeyByte(carried, d);
        while (target != b) {
          std::swap(carried, begin[next[target]++]);
          target = KeyByte(carried, d);
        }
        begin[next[b]++] = carried;
      }
    }
  }

  const CKeyLess& m_less;
  std::vector<SortKey> m_scratch;
  std::vector<Task> m_tasks;
  const std::atomic<bool>* m_running;
  std::array<std::array<uint32_t, 256>, kKeyBytes + 1> m_counts;
};

}  // namespace

int CompareHeadwordsIgnoringCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareHeadwords(std::string_view a, std::string_view b) {
  if (const int folded = CompareHeadwordsIgnoringCase(a, b); folded != 0) return folded;
  // Equal without regard to case: the plain bytes decide, so upper case comes first.
  const int plain = a.compare(b);
  return plain < 0 ? -1 : (plain > 0 ? 1 : 0);
}

bool EntryLess(const DictEntry& a, const DictEntry& b) {
  return CompareHeadwords(a.word, b.word) < 0;
}

bool CSortedIndex::Add(std::string_view word, uint32_t explanationSize) {
  uint32_t at = 0;
  if (!m_words.Add(word, &at)) return false;
  if ((m_size & kBlockMask) == 0 && (m_size >> kBlockBits) == m_blocks.size()) {
    NoteLargeAllocation();
    m_blocks.push_back(std::unique_ptr<EntryRecord[]>(new EntryRecord[kBlockMask + 1]));
  }
  Record(m_size++) = EntryRecord{at, static_cast<uint32_t>(word.size()), explanationSize, 0};
  return true;
}

bool SortIndex(CSortedIndex* index, unsigned threads, const std::atomic<bool>* running) {
  const auto stopped = [running] {
    return running != nullptr && !running->load(std::memory_order_relaxed);
  };
  const size_t size = index->size();
  index->m_order.reset();
  index->m_folded.reset();
  index->m_foldedCount = 0;
  index->m_foldedWordBytes = 0;
  const CKeyLess less(*index);
  const bool twoThreads = ThreadCount(threads) >= 2 && size >= 65536;

  // The keys are laid out in buckets straight away, in word-list order within each, so
  // that every bucket is ready for stable sorting. With two threads each lays out half of
  // the list, the second half's keys after the first half's in every bucket. A bucket is
  // one first folded byte; when one of those holds more keys than the sorters' scratch, as
  // in a long list of few initial letters, a pair of first bytes, and the first three
  // bytes for a pair that still holds that many. A larger bucket would be split again in
  // place: a pass over memory that no cache holds, which loses the word-list order of
  // equal keys, so that they must be sorted again. Buckets are this fine only while few
  // are used, so that the places they are written at stay in the cache.
  const size_t scratch = std::min(kScratchKeys, std::max<size_t>(4096, size / 16));
  const size_t middle = twoThreads ? size / 2 : size;
  const size_t partBegin[2] = {0, middle};
  const size_t partEnd[2] = {middle, size};
  const auto eachPart = [twoThreads](const auto& pass) {
    CJoiningThread other;
    if (twoThreads) other.Start([&] { pass(1); });
    pass(0);
    other.Join();
  };
  // One reading of the list counts keys by their first byte, and by their first three
  // bytes while few pairs of first bytes are seen: each pair gets 256 counters, by the
  // third byte, when it is first met.
  struct Counts {
    std::array<uint32_t, 256> byFirst{};
    std::vector<uint16_t> slotOf;  // per pair: where its counters start, over 256
    std::vector<uint32_t> byThird;
    bool manyPairs = false;
    // The keys of a pair with a third byte t, of all third bytes when t is 256.
    uint32_t Of(size_t pair, size_t t) const {
      if (manyPairs || slotOf.empty() || slotOf[pair] == kNoSlot) return 0;
      const uint32_t* const c = &byThird[size_t{slotOf[pair]} << 8];
      return t < 256 ? c[t] : std::accumulate(c, c + 256, uint32_t{0});
    }
  };
  Counts counts[2];
  eachPart([&](int part) {
    Counts& c = counts[part];
    c.slotOf.assign(kPairs, kNoSlot);
    for (size_t i = partBegin[part]; i < partEnd[part]; ++i) {
      if ((i & 0xFFFF) == 0 && stopped()) return;
      const std::string_view word = index->Word(index->Record(i));
      ++c.byFirst[FoldedByte(word, 0)];
      if (c.manyPairs) continue;
      uint16_t& slot = c.slotOf[LeadingPair(word)];
      if (slot == kNoSlot) {
        c.manyPairs = c.byThird.size() == kMaxLayoutBuckets << 8;
        if (c.manyPairs) continue;
        slot = static_cast<uint16_t>(c.byThird.size() >> 8);
        c.byThird.resize(c.byThird.size() + 256);
      }
      ++c.byThird[size_t{slot} << 8 | FoldedByte(word, 2)];
    }
  });
  if (stopped()) return false;
  size_t largestByte = 0, pairsUsed = 0;
  for (size_t b = 0; b < 256; ++b) largestByte = std::max<size_t>(largestByte, counts[0].byFirst[b] + counts[1].byFirst[b]);
  bool manyPairs = false;
  for (const Counts& c : counts) manyPairs |= c.manyPairs;
  for (size_t p = 0; p < kPairs && !manyPairs; ++p) pairsUsed += counts[0].Of(p, 256) + counts[1].Of(p, 256) != 0;
  const bool byPairs = largestByte > scratch && !manyPairs && pairsUsed <= kMaxLayoutBuckets;
  // bucketOf[pair]: the pair's bucket, or with kByThird the first of its 256 buckets by
  // the third byte; depthOf[bucket]: how many bytes its keys share.
  std::vector<uint32_t> bucketOf(kPairs);
  std::vector<uint8_t> depthOf;
  std::vector<uint32_t> next[2];
  const auto plan = [&](bool byThird) {
    depthOf.clear();
    for (std::vector<uint32_t>& part : next) part.clear();
    for (size_t p = 0; p < kPairs; ++p) {
      if (!byPairs) {
        bucketOf[p] = static_cast<uint32_t>(p >> 8);
        continue;
      }
      const bool third = byThird && counts[0].Of(p, 256) + counts[1].Of(p, 256) > scratch;
      bucketOf[p] = static_cast<uint32_t>(depthOf.size()) | (third ? kByThird : 0);
      depthOf.resize(depthOf.size() + (third ? 256 : 1), third ? 3 : 2);
      for (int part : {0, 1}) {
        if (third)
          for (size_t t = 0; t < 256; ++t) next[part].push_back(counts[part].Of(p, t));
        else
          next[part].push_back(counts[part].Of(p, 256));
      }
    }
    if (!byPairs) {
      depthOf.assign(256, 1);
      for (int part : {0, 1}) next[part].assign(counts[part].byFirst.begin(), counts[part].byFirst.end());
    }
    size_t used = 0;
    for (size_t b = 0; b < depthOf.size(); ++b) used += next[0][b] + next[1][b] != 0;
    return used;
  };
  if (plan(true) > kMaxLayoutBuckets) plan(false);
  for (Counts& c : counts) c = Counts();
  const size_t buckets = depthOf.size();
  std::vector<size_t> bounds(buckets + 1);
  for (size_t b = 0, at = 0; b < buckets; ++b) {
    bounds[b] = at;
    for (std::vector<uint32_t>& part : next) {
      const size_t n = part[b];
      part[b] = static_cast<uint32_t>(at);
      at += n;
    }
  }
  bounds[buckets] = size;

  NoteLargeAllocation();
  SortKey* const keys = static_cast<SortKey*>(std::malloc(std::max<size_t>(size, 1) * sizeof(SortKey)));
  if (keys == nullptr) throw std::bad_alloc();
  std::unique_ptr<SortKey[], CSortedIndex::FreeMemory> keysOwner(keys);
  const auto layOut = [&](int part) {
    uint32_t* const to = next[part].data();
    for (size_t i = partBegin[part]; i < partEnd[part]; ++i) {
      if ((i & 0xFFFF) == 0 && stopped()) return;
      const SortKey key = MakeKey(index->Word(index->Record(i)), 0, i);
      const uint32_t b = bucketOf[KeyByte(key, 0) << 8 | KeyByte(key, 1)];
      keys[to[(b & ~kByThird) + (b & kByThird ? KeyByte(key, 2) : 0)]++] = key;
    }
  };
  {
    CJoiningThread other;
    if (twoThreads) other.Start([&] { layOut(1); });
    layOut(0);
    other.Join();
  }

  if (stopped()) return false;
  // The buckets are finished independently; with two threads each takes the buckets of
  // about half the keys.
  size_t split = 0;  // buckets [0, split) go to the other thread
  if (twoThreads) {
    while (split < buckets && bounds[split + 1] <= size / 2) ++split;
  }
  SortKey* const begin = keys;
  const auto finish = [&](size_t first, size_t last) {
    CKeySorter sorter(less, scratch, running);
    for (size_t b = first; b < last && !stopped(); ++b)
      sorter.Sort(begin + bounds[b], begin + bounds[b + 1], depthOf[b]);
  };
  {
    CJoiningThread other;
    if (split > 0) other.Start([&] { finish(0, split); });
    finish(split, buckets);
    other.Join();
  }
  if (stopped()) return false;

  // Repeated headwords lie together, and their keys, loaded at the same depth, are equal:
  // keys that differ stand for different headwords, and equal keys of headwords of up to
  // eight bytes (which hold all their bytes and a case mask) for the same one. Only equal
  // keys of longer headwords need the headwords themselves. Where repeats are folded, each
  // one after the first of its headword is marked, by its list position, and its bytes
  // counted: a short headword's are the key's bytes that are not zero padding.
  const bool mark = index->m_policy != DuplicatePolicy::kKeep;
  uint64_t repeated = 0;
  bool lastSame = false;
  for (size_t k = 1; k < size; ++k) {
    const SortKey& a = keys[k - 1];
    const SortKey& b = keys[k];
    bool same = a.folded == b.folded && a.next == b.next;
    size_t length = 0;
    if (same && (a.isLong | b.isLong)) {
      const std::string_view word = less.Word(b);
      same = less.Word(a) == word;
      length = word.size();
    } else if (same) {
      same = a.upperCase == b.upperCase;
      length = 8 - static_cast<size_t>(std::countr_zero(b.folded) / 8);
    }
    if (same && !lastSame) ++repeated;
    if (same && mark) {
      index->MarkFolded(b.index);
      index->m_foldedWordBytes += length;
    }
    lastSame = same;
  }
  index->m_repeatedHeadwords = repeated;

  // The list positions in index order, written over the keys: position k takes bytes 4k
  // to 4k + 3, which belong to a key already read. Shrinking the block then gives the
  // rest back.
  unsigned char* const bytes = reinterpret_cast<unsigned char*>(keys);
  for (size_t k = 0; k < size; ++k) {
    const uint32_t position = keys[k].index;
    std::memcpy(bytes + 4 * k, &position, sizeof position);
  }
  void* const shrunk = std::realloc(keysOwner.get(), std::max<size_t>(size, 1) * sizeof(uint32_t));
  if (shrunk != nullptr) keysOwner.release();
  index->m_order.reset(static_cast<uint32_t*>(shrunk != nullptr ? shrunk : keysOwner.release()));
  return true;
}

uint64_t AssignOffsets(CSortedIndex* index, const std::atomic<bool>* running) {
  // The records lie in list order: each is asked for well ahead, so that the misses
  // overlap.
  constexpr size_t kRecordsAhead = 32;
  const size_t size = index->size();
  const bool merge = index->Duplicates() == DuplicatePolicy::kMerge;
  uint64_t offset = 0;
  for (size_t k = 0; k < size; ++k) {
    if ((k & 0xFFFF) == 0 && running != nullptr && !running->load(std::memory_order_relaxed)) break;
    if (k + kRecordsAhead < size) PrefetchText(&index->Record(index->ListPosition(k + kRecordsAhead)));
    const size_t i = index->ListPosition(k);
    EntryRecord& r = index->Record(i);
    if (index->Folded(i)) {
      // A dropped repeat is never written; a merged one follows a line break.
      if (!merge) continue;
      ++offset;
    }
    r.offset = static_cast<uint32_t>(offset);
    offset += r.size;
  }
  return offset;
}

void CSortedIndex::MarkFolded(size_t i) {
  if (!m_folded) {
    NoteLargeAllocation();
    m_folded.reset(new uint64_t[FoldedWords()]());
  }
  m_folded[i >> 6] |= uint64_t{1} << (i & 63);
  ++m_foldedCount;
}

size_t CSortedIndex::NextFolded(size_t i) const {
  if (!m_folded || i >= m_size) return m_size;
  size_t word = i >> 6;
  uint64_t bits = m_folded[word] & (~uint64_t{0} << (i & 63));
  while (bits == 0) {
    if (++word == FoldedWords()) return m_size;
    bits = m_folded[word];
  }
  return std::min(m_size, word * 64 + static_cast<size_t>(std::countr_zero(bits)));
}

void CSortedIndex::FoldRepeats() {
  if (!m_folded || !m_order) return;
  const bool merge = m_policy == DuplicatePolicy::kMerge;
  // The order is compacted in place. A merged group's first entry comes to span its
  // group, up to the end of its last repeat: two records per group are read, not one per
  // repeat.
  size_t kept = 0;
  size_t first = m_size;  // the first entry of the group being passed, if any
  size_t last = 0;        // its last repeat so far
  const auto spanGroup = [&] {
    if (first == m_size) return;
    EntryRecord& r = Record(first);
    r.size = Record(last).offset + Record(last).size - r.offset;
    first = m_size;
  };
  for (size_t k = 0; k < m_size; ++k) {
    const uint32_t i = m_order[k];
    if (Folded(i)) {
      if (merge && first == m_size) first = m_order[kept - 1];
      last = i;
      continue;
    }
    if (merge) spanGroup();
    m_order[kept++] = i;
  }
  if (merge) spanGroup();
  // Nothing is folded twice.
  m_folded.reset();
}
