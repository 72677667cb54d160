#include "core/entry_order.h"

#include "common/prefetch.h"

#include <algorithm>
#include <array>
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

// The folded bytes a key holds.
constexpr int kKeyBytes = 10;

inline unsigned KeyByte(const SortKey& key, int depth) {
  if (depth < 8) return static_cast<unsigned>(key.folded >> (56 - 8 * depth)) & 0xFF;
  return static_cast<unsigned>(key.next >> (8 * (9 - depth))) & 0xFF;
}

// Moves the keys of [begin, end) into 256 buckets by the folded byte at depth, in place
// (each key is swapped straight to its bucket); bounds[b] .. bounds[b + 1] is bucket b,
// counted from begin.
void SplitByByte(SortKey* begin, SortKey* end, int depth, std::array<size_t, 257>* bounds) {
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

// Sorts keys whose folded bytes before depth are all equal: bucket by bucket on the
// next byte, by comparison once a range is short or the key's folded bytes are used up.
template <typename Less>
void SortFromByte(SortKey* begin, SortKey* end, int depth, const Less& less) {
  for (;;) {
    const size_t size = static_cast<size_t>(end - begin);
    if (size < 2) return;
    if (size < kSmallRange || depth == kKeyBytes) {
      std::sort(begin, end, less);
      return;
    }
    std::array<size_t, 257> bounds;
    SplitByByte(begin, end, depth, &bounds);
    ++depth;
    // One bucket holding everything needs no recursion: go on with the next byte.
    size_t full = 256;
    for (size_t b = 0; b < 256; ++b) {
      if (bounds[b + 1] - bounds[b] == size) full = b;
    }
    if (full != 256) continue;
    for (size_t b = 0; b < 256; ++b)
      SortFromByte(begin + bounds[b], begin + bounds[b + 1], depth, less);
    return;
  }
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
  std::vector<SortKey> keys(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    if (i + 8 < list.size()) PrefetchText(list[i + 8].word.data());
    keys[i] = SortKey{FoldedBytes(list[i].word, 0, 8), static_cast<uint32_t>(i),
                      static_cast<uint16_t>(FoldedBytes(list[i].word, 8, 2)),
                      UpperCaseMask(list[i].word), list[i].word.size() > 8};
  }

  const auto less = [&list](const SortKey& x, const SortKey& y) {
    if (x.folded != y.folded) return x.folded < y.folded;
    if (x.next != y.next) return x.next < y.next;
    if (x.isLong | y.isLong) {
      const int order = CompareHeadwords(list[x.index].word, list[y.index].word);
      if (order != 0) return order < 0;
    } else if (x.upperCase != y.upperCase) {
      return x.upperCase > y.upperCase;
    }
    return x.index < y.index;
  };

  // The first byte splits the keys into buckets that are then finished independently; with
  // two threads each takes the buckets of about half the keys.
  SortKey* const begin = keys.data();
  SortKey* const end = begin + keys.size();
  std::array<size_t, 257> bounds{};
  if (keys.size() < kSmallRange) {
    std::sort(begin, end, less);
  } else {
    SplitByByte(begin, end, 0, &bounds);
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    size_t split = 256;  // buckets [0, split) go to the other thread
    if (threads >= 2) {
      split = 0;
      while (split < 256 && bounds[split + 1] <= keys.size() / 2) ++split;
    }
    const auto finish = [&](size_t first, size_t last) {
      for (size_t b = first; b < last; ++b)
        SortFromByte(begin + bounds[b], begin + bounds[b + 1], 1, less);
    };
    std::thread other;
    if (split > 0 && split < 256) {
      try {
        other = std::thread(finish, size_t{0}, split);
      } catch (const std::system_error&) {
        split = 256;  // no second thread: this one does it all
      }
    }
    if (other.joinable()) {
      finish(split, 256);
      other.join();
    } else {
      finish(0, 256);
    }
  }

  // Where each place's entry comes from, in a small array of its own: following a cycle
  // then reads only this array to find the next place, so the loads of the 40-byte entries
  // do not wait for each other.
  std::vector<uint32_t> from(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) from[i] = keys[i].index;
  std::vector<SortKey>().swap(keys);

  // Apply the permutation in place, one cycle at a time; a placed entry points at itself.
  // The small array tells where the cycle goes next, so the entry some steps ahead is
  // asked for early (a wrong guess at the cycle's end costs nothing).
  constexpr int kAhead = 8;
  for (size_t start = 0; start < from.size(); ++start) {
    if (from[start] == start) continue;
    size_t ahead = start;
    for (int k = 0; k < kAhead; ++k) ahead = from[ahead];
    DictEntry carried = list[start];
    size_t at = start;
    for (;;) {
      PrefetchText(&list[ahead]);
      ahead = from[ahead];
      const size_t source = from[at];
      from[at] = static_cast<uint32_t>(at);
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
