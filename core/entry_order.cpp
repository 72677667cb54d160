#include "core/entry_order.h"

#include <algorithm>
#include <thread>

namespace {

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// The first eight case-folded bytes of a headword as one number whose order is the order
// of those bytes. Headwords hold no NUL bytes, so the zero padding of a short headword
// puts it before its longer relatives.
uint64_t FoldedPrefix(std::string_view word) {
  uint64_t key = 0;
  const size_t n = std::min<size_t>(word.size(), 8);
  for (size_t i = 0; i < n; ++i)
    key |= static_cast<uint64_t>(FoldAscii(static_cast<unsigned char>(word[i]))) << (56 - 8 * i);
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
// keys share their first eight folded bytes and one headword is longer than that.
struct SortKey {
  uint64_t folded;
  uint32_t index;  // position in the word list: identical headwords keep their order
  uint8_t upperCase;
  uint8_t isLong;
};
static_assert(sizeof(SortKey) == 16);

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
  for (size_t i = 0; i < list.size(); ++i)
    keys[i] = SortKey{FoldedPrefix(list[i].word), static_cast<uint32_t>(i),
                      UpperCaseMask(list[i].word), list[i].word.size() > 8};

  const auto less = [&list](const SortKey& x, const SortKey& y) {
    if (x.folded != y.folded) return x.folded < y.folded;
    if (x.isLong | y.isLong) {
      const int order = CompareHeadwords(list[x.index].word, list[y.index].word);
      if (order != 0) return order < 0;
    } else if (x.upperCase != y.upperCase) {
      return x.upperCase > y.upperCase;
    }
    return x.index < y.index;
  };

  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  if (threads >= 2 && keys.size() >= 65536) {
    // Two halves sorted at once, then merged; the result is the same as one sort's.
    const auto middle = keys.begin() + static_cast<std::ptrdiff_t>(keys.size() / 2);
    std::thread half([&] { std::sort(keys.begin(), middle, less); });
    std::sort(middle, keys.end(), less);
    half.join();
    std::inplace_merge(keys.begin(), middle, keys.end(), less);
  } else {
    std::sort(keys.begin(), keys.end(), less);
  }

  // Apply the permutation in place, one cycle at a time, marking placed keys.
  constexpr uint32_t kPlaced = UINT32_MAX;
  for (size_t start = 0; start < keys.size(); ++start) {
    if (keys[start].index == kPlaced || keys[start].index == start) continue;
    DictEntry carried = list[start];
    size_t at = start;
    for (;;) {
      const size_t from = keys[at].index;
      keys[at].index = kPlaced;
      if (from == start) {
        list[at] = carried;
        break;
      }
      list[at] = list[from];
      at = from;
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
