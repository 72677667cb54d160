#include "package/index_order.h"

#include <algorithm>
#include <array>
#include <cstring>

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

  // Whether the keys of [begin, end) all stand for one headword, byte for byte.
  bool SameHeadword(const SortKey* begin, const SortKey* end) const {
    const std::string_view first = m_list[begin->index].word;
    for (const SortKey* k = begin + 1; k < end; ++k)
      if (m_list[k->index].word != first) return false;
    return true;
  }

 private:
  const std::vector<DictEntry>& m_list;
};

// Sorts ranges of keys whose folded bytes before some depth are equal. A range that fits
// the scratch space is sorted by its remaining bytes, least significant first, each pass
// stable; a larger one is split in place by its next byte and its parts sorted in turn.
class CKeySorter {
 public:
  // Once *running (when given) is cleared, what is left of a range stays unsorted.
  CKeySorter(const CKeyLess& less, size_t scratch, const std::atomic<bool>* running)
      : m_less(less), m_running(running) {
    NoteLargeAllocation();
    m_scratch.resize(scratch);
  }

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
      for (size_t b = 0; b < 256; ++b) {
        // A range this large takes a while: a cancel is noticed between its parts.
        if (m_running != nullptr && !m_running->load(std::memory_order_relaxed)) return;
        Sort(begin + bounds[b], begin + bounds[b + 1], depth + 1, false);
      }
    }
  }

 private:
  // Stable counting passes over the bytes from the case mask back to depth; a byte that
  // all keys share costs no pass. One reading of the range counts every byte at once.
  void SortByDigits(SortKey* begin, SortKey* end, int depth) {
    const size_t size = static_cast<size_t>(end - begin);
    const int digits = kKeyBytes + 1 - depth;
    for (int d = 0; d < digits; ++d) m_counts[d].fill(0);
    for (const SortKey* k = begin; k < end; ++k)
      for (int d = 0; d < digits; ++d) ++m_counts[d][KeyByte(*k, depth + d)];
    SortKey* from = begin;
    SortKey* to = m_scratch.data();
    for (int d = digits - 1; d >= 0; --d) {
      std::array<uint32_t, 256>& count = m_counts[d];
      if (count[KeyByte(*from, depth + d)] == size) continue;
      uint32_t at = 0;
      for (uint32_t& c : count) {
        const uint32_t n = c;
        c = at;
        at += n;
      }
      for (const SortKey* k = from; k < from + size; ++k)
        to[count[KeyByte(*k, depth + d)]++] = *k;
      std::swap(from, to);
    }
    if (from != begin) std::copy(from, from + size, begin);
  }

  // Keys with equal folded bytes are in order already (case mask, then word-list order)
  // unless their headwords are longer than eight bytes, which the keys cannot fully tell
  // apart, or the range was split in place before: those runs are put right. A run of
  // one repeated headword needs only word-list order; others are sorted by comparison.
  void SettleTies(SortKey* begin, SortKey* end, bool inOrder) {
    for (SortKey* run = begin; run < end;) {
      SortKey* last = run + 1;
      while (last < end && last->folded == run->folded && last->next == run->next) ++last;
      // Headwords of nine bytes or more have a folded byte 8, shorter ones do not: a run
      // holds only long headwords or only short ones.
      if (last - run > 1 && run->isLong) {
        if (!m_less.SameHeadword(run, last))
          std::sort(run, last, m_less);
        else if (!inOrder)
          std::sort(run, last, [](const SortKey& x, const SortKey& y) { return x.index < y.index; });
      } else if (last - run > 1 && !inOrder) {
        std::sort(run, last, m_less);
      }
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
  const std::atomic<bool>* m_running;
  std::array<std::array<uint32_t, 256>, kKeyBytes + 1> m_counts;
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

// The key of a headword: its first ten bytes folded (the zero padding of a short headword
// puts it before its longer relatives, as headwords hold no NUL bytes) and, for the first
// eight, one bit per upper-case letter, the first byte highest. Two headwords equal
// without regard to case differ first where their masks do, and there the upper-case
// letter (the smaller byte) comes first: the larger mask sorts first.
SortKey MakeKey(std::string_view word, size_t index) {
  unsigned char bytes[16] = {};
  std::memcpy(bytes, word.data(), std::min<size_t>(word.size(), 10));
  const uint64_t head = BigEndianWord(bytes);
  const uint64_t tail = BigEndianWord(bytes + 8);
  const uint64_t upper = UpperCaseLetters(head);
  // A letter's high bit moved down to 0x20 turns it into lower case; the eight high bits
  // gathered into the top byte make the mask.
  return SortKey{head | (upper >> 2), static_cast<uint32_t>(index),
                 static_cast<uint16_t>((tail | (UpperCaseLetters(tail) >> 2)) >> 48),
                 static_cast<uint8_t>(((upper >> 7) * 0x0102040810204080ull) >> 56),
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

bool SortEntries(std::vector<DictEntry>* entries, unsigned threads,
                 const std::atomic<bool>* running) {
  const auto stopped = [running] {
    return running != nullptr && !running->load(std::memory_order_relaxed);
  };
  std::vector<DictEntry>& list = *entries;
  const CKeyLess less(list);
  const bool twoThreads = ThreadCount(threads) >= 2 && list.size() >= 65536;

  // The keys are laid out by their first folded byte straight away, in word-list order
  // within each byte: 256 buckets, each ready for stable sorting. With two threads each
  // lays out half of the list, the second half's keys after the first half's in every
  // bucket.
  const size_t middle = twoThreads ? list.size() / 2 : list.size();
  const size_t partBegin[2] = {0, middle};
  const size_t partEnd[2] = {middle, list.size()};
  std::array<size_t, 256> next[2] = {};
  const auto count = [&](int part) {
    for (size_t i = partBegin[part]; i < partEnd[part]; ++i) {
      if ((i & 0xFFFF) == 0 && stopped()) return;
      const std::string_view word = list[i].word;
      ++next[part][word.empty() ? 0 : FoldAscii(static_cast<unsigned char>(word[0]))];
    }
  };
  {
    CJoiningThread other;
    if (twoThreads) other.Start([&] { count(1); });
    count(0);
    other.Join();
  }
  if (stopped()) return false;
  std::array<size_t, 257> bounds{};
  for (size_t b = 0, at = 0; b < 256; ++b) {
    bounds[b] = at;
    for (auto& part : next) {
      const size_t n = part[b];
      part[b] = at;
      at += n;
    }
  }
  bounds[256] = list.size();

  NoteLargeAllocation();
  std::vector<SortKey> keys(list.size());
  const auto layOut = [&](int part) {
    for (size_t i = partBegin[part]; i < partEnd[part]; ++i) {
      if ((i & 0xFFFF) == 0 && stopped()) return;
      if (i + 8 < partEnd[part]) PrefetchText(list[i + 8].word.data());
      const SortKey key = MakeKey(list[i].word, i);
      keys[next[part][KeyByte(key, 0)]++] = key;
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
  // about half the keys. Each thread has scratch space for a sixteenth of the keys.
  size_t split = 0;  // buckets [0, split) go to the other thread
  if (twoThreads) {
    while (split < 256 && bounds[split + 1] <= keys.size() / 2) ++split;
  }
  const size_t scratch = std::max<size_t>(4096, keys.size() / 16);
  SortKey* const begin = keys.data();
  const auto finish = [&](size_t first, size_t last) {
    CKeySorter sorter(less, scratch, running);
    for (size_t b = first; b < last && !stopped(); ++b)
      sorter.Sort(begin + bounds[b], begin + bounds[b + 1], 1, true);
  };
  {
    CJoiningThread other;
    if (split > 0) other.Start([&] { finish(0, split); });
    finish(split, 256);
    other.Join();
  }

  // Nothing has moved yet: a cancelled sort leaves the list as it was.
  if (stopped()) return false;

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
  return true;
}

uint64_t AssignOffsets(std::vector<DictEntry>* entries) {
  uint64_t offset = 0;
  for (DictEntry& e : *entries) {
    e.offset = static_cast<uint32_t>(offset);
    offset += e.size;
  }
  return offset;
}
