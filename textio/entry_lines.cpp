#include "textio/entry_lines.h"

#include <algorithm>
#include <bit>

void CEntryLines::SetBit(uint64_t bit) {
  const size_t word = static_cast<size_t>(bit >> 6);
  if (word >= m_lines.size()) m_lines.resize(word + 1);
  m_lines[word] |= uint64_t{1} << (bit & 63);
}

void CEntryLines::Add(uint64_t line) {
  SetBit(line - 1);
  if (m_count % kNoteEvery == 0) m_noted.push_back({m_count, line});
  ++m_count;
}

void CEntryLines::Append(const CEntryLines& later, uint64_t lines) {
  for (size_t j = 0; j < later.m_lines.size(); ++j) {
    const uint64_t bits = later.m_lines[j];
    if (bits == 0) continue;
    const uint64_t at = lines + 64 * uint64_t{j};
    const size_t word = static_cast<size_t>(at >> 6);
    const unsigned shift = static_cast<unsigned>(at & 63);
    if (word + 1 >= m_lines.size()) m_lines.resize(word + 2);
    m_lines[word] |= bits << shift;
    if (shift != 0) m_lines[word + 1] |= bits >> (64 - shift);
  }
  // Every entry of later lies within kNoteEvery entries of one it noted, its first too.
  for (const Noted& noted : later.m_noted) m_noted.push_back({m_count + noted.entry, lines + noted.line});
  m_count += later.m_count;
}

uint64_t CEntryLines::LineOf(uint64_t entry) const {
  if (entry >= m_count) return 0;
  const Noted& from = *(std::upper_bound(m_noted.begin(), m_noted.end(), entry,
                                         [](uint64_t e, const Noted& n) { return e < n.entry; }) - 1);
  // Entries to pass after the noted one's line, whose bit counts as the first.
  uint64_t skip = entry - from.entry;
  size_t word = static_cast<size_t>((from.line - 1) >> 6);
  uint64_t bits = m_lines[word] & (~uint64_t{0} << ((from.line - 1) & 63));
  for (;;) {
    const uint64_t here = static_cast<uint64_t>(std::popcount(bits));
    if (skip < here) break;
    skip -= here;
    bits = m_lines[++word];
  }
  for (; skip > 0; --skip) bits &= bits - 1;
  return 64 * uint64_t{word} + static_cast<uint64_t>(std::countr_zero(bits)) + 1;
}
