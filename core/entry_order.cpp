#include "core/entry_order.h"

#include "common/prefetch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// Eight case-folded bytes of a headword from position from on, as one number whose order
// is the order of those bytes. Headwords hold no NUL bytes, so the zero padding of a short
// headword puts it before its longer relatives.
uint64_t FoldedBytes(std::string_view word, size_t from, size_t count) {
  uint64_t key = 0;
  const size_t n = word.size() > from ? std::min(word.size() - from, count) : 0;
  for (size_t i = 0; i < n; ++i)
    key |= static_cast<uint64_t>(FoldAscii(static_cast<unsigned char>(word[from + i])))
           << (8 * (count - 1 - i));
  return key;
}

// One bit per byte of the first eight, the first byte highest, set for an upper-case
// letter. Two headwords equal without regard to case differ first where their masks do,
// and there the upper-case letter (the smaller byte) comes first: the larger mask sorts
// first.
uint8_t UpperCaseMask(std::string_view word) {
  uint8_t mask = 0;
  const size_t n = std::min<size_t>(word.size(), 8);
  for (size_t i = 0; i < n; ++i)
    if (word[i] >= 'A' && word[i] <= 'Z') mask |= static_cast<uint8_t>(0x80 >> i);
  return mask;
}

// Sorting 16-byte keys that decide on their own is several times faster than sorting the
// entries, whose headwords lie elsewhere in memory: the headwords are read only when two
// keys share their first ten folded bytes and one headword is longer than eight.
struct SortKey {
  uint64_t folded;  // folded bytes 0 to 7
  uint32_t index;   // position in the word list: identical headwords keep their order
  uint16_t next;    // folded bytes 8 and 9
  uint8_t upperCase;
  uint8_t isLong;
};
static_assert(sizeof(SortKey) == 16);

// Ranges this short are sorted by comparison.
constexpr size_t kSmallRange = 64;

// The folded bytes a key holds; a key's digit at this depth is its case mask.
constexpr int kKeyBytes = 10;

// The key's byte at depth: a folded byte, or past them the case mask, inverted so that
// upper case comes first.
inline unsigned KeyByte(const SortKey& key, int depth) {
  if (depth < 8) return static_cast<unsigned>(key.folded >> (56 - 8 * depth)) & 0xFF;
  if (depth < kKeyBytes) return static_cast<unsigned>(key.next >> (8 * (9 - depth))) & 0xFF;
  return 0xFFu - key.upperCase;
}

// The order of two keys; headwords are read only when the keys cannot tell.
class CKeyLess {
 public:
  explicit CKeyLess(const std::vector<DictEntry>& list) : m_list(list) {}

  bool operator()(const SortKey& x, const SortKey& y) const {
    if (x.folded != y.folded) return x.folded < y.folded;
    if (x.next != y.next) return x.next < y.next;
    if (x.isLong | y.isLong) {
      const int order = CompareHeadwords(m_list[x.index].word, m_list[y.index].word);
      if (order != 0) return order < 0;
    } else if (x.upperCase != y.upperCase) {
      return x.upperCase > y.upperCase;
    }
    return x.index < y.index;
  }

 private:
  const std::vector<DictEntry>& m_list;
};

// Sorts ranges of keys whose folded bytes before some depth are equal. A range that fits
// the scratch space is sorted by its remaining bytes, least significant first, each pass
// stable; a larger one is split in place by its next byte and its parts sorted in turn.
class CKeySorter {
 public:
  CKeySorter(const CKeyLess& less, size_t scratch) : m_less(less), m_scratch(scratch) {}

  // inOrder: the range still lists equal keys in word-list order.
  void Sort(SortKey* begin, SortKey* end, int depth, bool inOrder) {
    const size_t size = static_cast<size_t>(end - begin);
    if (size < 2) return;
    if (size < kSmallRange || depth == kKeyBytes) {
      std::sort(begin, end, m_less);
    } else if (size <= m_scratch.size()) {
      SortByDigits(begin, end, depth);
      SettleTies(begin, end, inOrder);
    } else {
      std::array<size_t, 257> bounds;
      SplitByByte(begin, end, depth, &bounds);
      for (size_t b = 0; b < 256; ++b)
        Sort(begin + bounds[b], begin + bounds[b + 1], depth + 1, false);
    }
  }

 private:
  // Stable counting passes over the bytes from the case mask back to depth; a byte that
  // all keys share costs one counting pass and no move.
  void SortByDigits(SortKey* begin, SortKey* end, int depth) {
    const size_t size = static_cast<size_t>(end - begin);
    SortKey* from = begin;
    SortKey* to = m_scratch.data();
    for (int d = kKeyBytes; d >= depth; --d) {
      std::array<size_t, 256> count{};
      for (const SortKey* k = from; k < from + size; ++k) ++count[KeyByte(*k, d)];
      if (count[KeyByte(*from, d)] == size) continue;
      size_t at = 0;
      for (size_t& c : count) {
        const size_t n = c;
        c = at;
        at += n;
      }
      for (const SortKey* k = from; k < from + size; ++k) to[count[KeyByte(*k, d)]++] = *k;
      std::swap(from, to);
    }
    if (from != begin) std::copy(from, from + size, begin);
  }

  // Keys with equal folded bytes are in order already (case mask, then word-list order)
  // unless one headword is longer than eight bytes, which the keys cannot fully tell
  // apart, or the range was split in place before: those runs are put right by
  // comparison.
  void SettleTies(SortKey* begin, SortKey* end, bool inOrder) {
    for (SortKey* run = begin; run < end;) {
      SortKey* last = run + 1;
      bool anyLong = run->isLong;
      while (last < end && last->folded == run->folded && last->next == run->next) {
        anyLong |= last->isLong;
        ++last;
      }
      if (last - run > 1 && (anyLong || !inOrder)) std::sort(run, last, m_less);
      run = last;
    }
  }

  // Moves the keys of [begin, end) into 256 buckets by their byte at depth, in place
  // (each key is swapped straight to its bucket); bounds[b] .. bounds[b + 1] is bucket b,
  // counted from begin.
  static void SplitByByte(SortKey* begin, SortKey* end, int depth,
                          std::array<size_t, 257>* bounds) {
    std::array<size_t, 256> count{};
    for (const SortKey* k = begin; k < end; ++k) ++count[KeyByte(*k, depth)];
    std::array<size_t, 256> next{};
    (*bounds)[0] = 0;
    for (size_t b = 0; b < 256; ++b) {
      next[b] = (*bounds)[b];
      (*bounds)[b + 1] = (*bounds)[b] + count[b];
    }
    for (size_t b = 0; b < 256; ++b) {
      while (next[b] < (*bounds)[b + 1]) {
        SortKey carried = begin[next[b]];
        unsigned target = KeyByte(carried, depth);
        while (target != b) {
          std::swap(carried, begin[next[target]++]);
          target = KeyByte(carried, depth);
        }
        begin[next[b]++] = carried;
      }
    }
  }

  const CKeyLess& m_less;
  std::vector<SortKey> m_scratch;
};

// An array of 32-bit positions laid over the bytes of sorted keys; position i occupies
// bytes 4i to 4i + 3, which belong to keys already read when it is written.
class CPositions {
 public:
  explicit CPositions(SortKey* keys) : m_bytes(reinterpret_cast<unsigned char*>(keys)) {}
  uint32_t Get(size_t i) const {
    uint32_t value;
    std::memcpy(&value, m_bytes + 4 * i, sizeof value);
    return value;
  }
  void Set(size_t i, uint32_t value) { std::memcpy(m_bytes + 4 * i, &value, sizeof value); }

 private:
  unsigned char* m_bytes;
};
static_assert(sizeof(SortKey) == 4 * sizeof(uint32_t));

SortKey MakeKey(std::string_view word, size_t index) {
  return SortKey{FoldedBytes(word, 0, 8), static_cast<uint32_t>(index),
                 static_cast<uint16_t>(FoldedBytes(word, 8, 2)), UpperCaseMask(word),
                 word.size() > 8};
}

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

void SortEntries(std::vector<DictEntry>* entries, unsigned threads) {
  std::vector<DictEntry>& list = *entries;
  const CKeyLess less(list);

  // The keys are laid out by their first folded byte straight away, in word-list order
  // within each byte: 256 buckets, each ready for stable sorting.
  std::array<size_t, 257> bounds{};
  for (const DictEntry& e : list)
    ++bounds[1 + (e.word.empty() ? 0 : FoldAscii(static_cast<unsigned char>(e.word[0])))];
  for (size_t b = 1; b <= 256; ++b) bounds[b] += bounds[b - 1];
  std::vector<SortKey> keys(list.size());
  {
    std::array<size_t, 256> next;
    std::copy(bounds.begin(), bounds.end() - 1, next.begin());
    for (size_t i = 0; i < list.size(); ++i) {
      if (i + 8 < list.size()) PrefetchText(list[i + 8].word.data());
      const SortKey key = MakeKey(list[i].word, i);
      keys[next[KeyByte(key, 0)]++] = key;
    }
  }

  // The buckets are finished independently; with two threads each takes the buckets of
  // about half the keys. Each thread has scratch space for a sixteenth of the keys.
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  size_t split = 0;  // buckets [0, split) go to the other thread
  if (threads >= 2 && keys.size() >= 65536) {
    while (split < 256 && bounds[split + 1] <= keys.size() / 2) ++split;
  }
  const size_t scratch = std::max<size_t>(4096, keys.size() / 16);
  SortKey* const begin = keys.data();
  const auto finish = [&](size_t first, size_t last) {
    CKeySorter sorter(less, scratch);
    for (size_t b = first; b < last; ++b)
      sorter.Sort(begin + bounds[b], begin + bounds[b + 1], 1, true);
  };
  std::thread other;
  if (split > 0) {
    try {
      other = std::thread(finish, size_t{0}, split);
    } catch (const std::system_error&) {
      split = 0;  // no second thread: this one does it all
    }
  }
  finish(split, 256);
  if (other.joinable()) other.join();

  // Where each place's entry comes from, written over the keys themselves (a key is as
  // wide as four positions): following a cycle then reads only this small array to find
  // the next place, so the loads of the 40-byte entries do not wait for each other.
  CPositions from(keys.data());
  for (size_t i = 0; i < keys.size(); ++i) from.Set(i, keys[i].index);

  // Apply the permutation in place, one cycle at a time; a placed entry points at itself.
  for (size_t start = 0; start < list.size(); ++start) {
    if (from.Get(start) == start) continue;
    DictEntry carried = list[start];
    size_t at = start;
    for (;;) {
      const size_t source = from.Get(at);
      from.Set(at, static_cast<uint32_t>(at));
      if (source == start) {
        list[at] = carried;
        break;
      }
      list[at] = list[source];
      at = source;
    }
  }
}

uint64_t AssignOffsets(std::vector<DictEntry>* entries) {
  uint64_t offset = 0;
  for (DictEntry& e : *entries) {
    e.offset = static_cast<uint32_t>(offset);
    offset += e.size;
  }
  return offset;
}
