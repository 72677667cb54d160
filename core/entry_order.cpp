#include "core/entry_order.h"

#include <algorithm>

namespace {

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

}  // namespace

int CompareHeadwords(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  // Equal without regard to case: the plain bytes decide, so upper case comes first.
  const int plain = a.compare(b);
  return plain < 0 ? -1 : (plain > 0 ? 1 : 0);
}

bool EntryLess(const DictEntry& a, const DictEntry& b) {
  return CompareHeadwords(a.word, b.word) < 0;
}

void SortEntries(std::vector<DictEntry>* entries) {
  std::sort(entries->begin(), entries->end(), [](const DictEntry& a, const DictEntry& b) {
    const int order = CompareHeadwords(a.word, b.word);
    return order != 0 ? order < 0 : a.explanation < b.explanation;
  });
}

uint64_t AssignOffsets(std::vector<DictEntry>* entries) {
  uint64_t offset = 0;
  for (DictEntry& e : *entries) {
    e.offset = static_cast<uint32_t>(offset);
    offset += e.size;
  }
  return offset;
}
