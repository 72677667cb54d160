#include "textio/text_evidence.h"

#include <cstring>

namespace {

// NULs in a start that is not UTF-16: more than this many, and more than one byte in
// kNulShare, make it no text. Compressed data holds one in 256, a program far more; a text
// list may hold stray ones, each of which its line loses.
constexpr uint64_t kNulAllowance = 8;
constexpr uint64_t kNulShare = 1024;
// Control characters: more than this many, and more than one byte in kControlShare.
constexpr uint64_t kControlAllowance = 4;
constexpr uint64_t kControlShare = 32;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Nonzero when a byte of word is below n (exact as a yes or no for words without high
// bytes, n up to 0x80).
constexpr uint64_t BytesBelow(uint64_t word, unsigned n) { return (word - kOnes * n) & ~word & kHighBits; }

bool IsControl(unsigned c) {
  return (c < 0x20 && c != 0 && c != '\t' && c != '\n' && c != '\f' && c != '\r') || c == 0x7F;
}

}  // namespace

void CTextEvidence::Add(const unsigned char* bytes, size_t size) {
  const unsigned char* p = bytes;
  const unsigned char* const end = bytes + size;
  while (p < end) {
    // Printable ASCII goes eight bytes at a time; the parity of the offset is kept.
    if (m_need == 0) {
      while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & kHighBits) || BytesBelow(word, 0x20) || BytesBelow(word ^ (kOnes * 0x7F), 1)) break;
        p += 8;
        m_counts.bytes += 8;
      }
      if (p == end) break;
    }
    AddByte(*p++);
  }
}

void CTextEvidence::AddByte(unsigned char b) {
  const uint64_t offset = m_counts.bytes++;
  if (b >= 0x80) ++m_counts.highBytes;
  if (m_need > 0) {
    if (b >= m_low && b <= m_high) {
      ++m_have;
      m_low = 0x80;
      m_high = 0xBF;
      if (--m_need == 0) ++m_counts.sequences;
      return;
    }
    // Cut short: each byte of it is replaced, and b starts afresh.
    m_counts.breaks += static_cast<uint64_t>(m_have);
    m_need = 0;
    m_low = 0x80;
    m_high = 0xBF;
  }
  if (b < 0x80) {
    if (b == 0) {
      ++m_counts.nuls;
      m_counts.oddNuls += offset & 1;
    } else if (IsControl(b)) {
      ++m_counts.controls;
    }
    return;
  }
  m_have = 1;
  if (b >= 0xC2 && b <= 0xDF) {
    m_need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    m_need = 2;
    if (b == 0xE0) m_low = 0xA0;
    if (b == 0xED) m_high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    m_need = 3;
    if (b == 0xF0) m_low = 0x90;
    if (b == 0xF4) m_high = 0x8F;
  } else {
    ++m_counts.breaks;  // a continuation byte alone, C0, C1 or F5 to FF
  }
}

void CUtf16Evidence::Add(const unsigned char* bytes, size_t size) {
  size_t i = 0;
  if (m_carried >= 0 && size > 0) {
    const unsigned first = static_cast<unsigned>(m_carried);
    AddUnit(m_little ? first | bytes[0] << 8 : first << 8 | bytes[0]);
    m_carried = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2)
    AddUnit(m_little ? bytes[i] | bytes[i + 1] << 8 : bytes[i] << 8 | bytes[i + 1]);
  if (i < size) m_carried = bytes[i];
}

void CUtf16Evidence::AddUnit(unsigned unit) {
  ++m_counts.units;
  const bool high = unit >= 0xD800 && unit <= 0xDBFF;
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if ((m_pendingHigh && !low) || (low && !m_pendingHigh)) ++m_counts.loneSurrogates;
  m_pendingHigh = high;
  if (unit == 0)
    ++m_counts.nulUnits;
  else if (IsControl(unit))
    ++m_counts.controls;
}

bool JudgedUtf8(const TextEvidence& e) { return e.breaks * kSequencesPerBreak <= e.sequences; }

bool JudgedBinary(const TextEvidence& e) {
  return (e.nuls > kNulAllowance && e.nuls * kNulShare > e.bytes) ||
         (e.controls > kControlAllowance && e.controls * kControlShare > e.bytes);
}

bool Utf16OrderFromNuls(const TextEvidence& e, bool* littleEndian) {
  // The other offsets may hold a few: the low byte of U+4E00, say, in little-endian text.
  const uint64_t odd = e.oddNuls;
  const uint64_t even = e.nuls - e.oddNuls;
  if (e.nuls <= kNulAllowance || (odd <= 2 * even && even <= 2 * odd)) return false;
  *littleEndian = odd > even;
  return true;
}

bool JudgedUtf16Text(const Utf16Evidence& e) {
  return e.nulUnits <= kNulAllowance && e.loneSurrogates <= kNulAllowance &&
         !(e.controls > kControlAllowance && e.controls * kControlShare > e.units);
}
