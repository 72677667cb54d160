#pragma once
// What the start of a word list shows of its encoding, and whether it is text at all. The
// reader examines the start once (16 MiB at most, or the whole list), counting here, and
// the judgements below decide from the counts alone.

#include <cstddef>
#include <cstdint>

// Counts over the bytes of a list's examined start.
struct TextEvidence {
  uint64_t bytes = 0;      // bytes examined
  uint64_t highBytes = 0;  // bytes from 0x80 on: the start holds more than ASCII
  // Well-formed UTF-8 sequences of two to four bytes.
  uint64_t sequences = 0;
  // Bytes that break UTF-8, each of which a UTF-8 reading replaces by U+FFFD: a byte that
  // cannot start a sequence, and the bytes of a sequence cut short by another byte. A
  // sequence cut by the end of the examined start is no break (nor a sequence): the file
  // or the examination ended there, not the encoding.
  uint64_t breaks = 0;
  uint64_t nuls = 0;
  uint64_t oddNuls = 0;   // NULs at odd offsets from the start
  uint64_t controls = 0;  // C0 control characters other than NUL, TAB, LF, FF and CR; DEL
};

// Counts of the same start read as UTF-16 code units in one byte order.
struct Utf16Evidence {
  uint64_t units = 0;
  uint64_t nulUnits = 0;
  uint64_t controls = 0;  // as TextEvidence's, as code units
  uint64_t loneSurrogates = 0;
};

// Counts the bytes of a start handed over in any number of pieces.
class CTextEvidence {
 public:
  void Add(const unsigned char* bytes, size_t size);
  const TextEvidence& Counts() const { return m_counts; }

 private:
  void AddByte(unsigned char b);

  TextEvidence m_counts;
  int m_need = 0;  // continuation bytes the sequence being read still needs
  int m_have = 0;  // bytes of that sequence so far
  // The range of the next continuation byte: narrower after E0, ED, F0 and F4, which
  // would otherwise start overlong forms, surrogates or code points beyond U+10FFFF.
  unsigned char m_low = 0x80;
  unsigned char m_high = 0xBF;
};

// Counts the code units of bytes in one byte order, handed over in any number of pieces.
class CUtf16Evidence {
 public:
  explicit CUtf16Evidence(bool littleEndian) : m_little(littleEndian) {}
  void Add(const unsigned char* bytes, size_t size);
  // The counts, a high surrogate or an odd byte left waiting at the end being no fault.
  const Utf16Evidence& Counts() const { return m_counts; }

 private:
  void AddUnit(unsigned unit);

  Utf16Evidence m_counts;
  bool m_little;
  bool m_pendingHigh = false;
  int m_carried = -1;  // the first byte of a unit the last piece cut
};

// A list is read as UTF-8 when it has at most one byte that breaks UTF-8 for this many
// well-formed sequences (README, "How lines are read", tells what the figure rests on).
inline constexpr uint64_t kSequencesPerBreak = 4;

// UTF-8 rather than the ANSI code page: breaks are rare next to the well-formed
// sequences. A start of ASCII alone is UTF-8, as it reads the same either way.
bool JudgedUtf8(const TextEvidence& evidence);

// Not text: more than a few NULs making more than a tiny share of the bytes (a text list
// may hold stray ones, which their lines lose), or more than a few other control
// characters making more than a small share.
bool JudgedBinary(const TextEvidence& evidence);

// The start of a list without a mark that JudgedBinary refuses may be UTF-16: most of its
// NULs, more than twice as many as the rest, lie at odd offsets (little-endian: the high
// bytes of ASCII characters) or at even ones (big-endian). True for the byte order in
// *littleEndian when so.
bool Utf16OrderFromNuls(const TextEvidence& evidence, bool* littleEndian);

// Read in that order, the start is text: almost no NUL units, control characters or lone
// surrogates.
bool JudgedUtf16Text(const Utf16Evidence& evidence);
