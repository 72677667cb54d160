#pragma once
// Where the entries of a reading came from: the line of each (for a dictionary, its
// number among the dictionary's entries), so that an entry known only by its place in the
// list can be named to the user. One bit per line tells whether it gave an entry, and the
// line of every 512th entry is noted, so that finding a line counts the bits of a few
// hundred lines at most: a list costs an eighth of a byte per line, however its blank and
// skipped lines fall.

#include <cstdint>
#include <vector>

class CEntryLines {
 public:
  // The next entry came from line (from 1; later entries come from later lines).
  void Add(uint64_t line);
  // Takes over the entries of later, a reading of the text that followed lines lines of
  // this one's.
  void Append(const CEntryLines& later, uint64_t lines);

  uint64_t Count() const { return m_count; }
  // The line of entry (from 0); 0 for an entry it was not told of.
  uint64_t LineOf(uint64_t entry) const;

 private:
  static constexpr uint64_t kNoteEvery = 512;
  struct Noted {
    uint64_t entry;
    uint64_t line;
  };
  void SetBit(uint64_t bit);

  std::vector<uint64_t> m_lines;  // bit line - 1: that line gave an entry
  std::vector<Noted> m_noted;     // in entry order
  uint64_t m_count = 0;
};
