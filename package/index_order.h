#pragma once
// The index order: ASCII letters compared without regard to case first, plain unsigned
// bytes second (the order of StarDict index files).

#include <atomic>
#include <string_view>
#include <vector>

#include "common/dict_entry.h"

// Negative, zero or positive as a sorts before, with or after b.
int CompareHeadwords(std::string_view a, std::string_view b);

// The first key of that order alone: ASCII letters compared without regard to case,
// every other byte as an unsigned value, a shorter headword first.
int CompareHeadwordsIgnoringCase(std::string_view a, std::string_view b);

bool EntryLess(const DictEntry& a, const DictEntry& b);

// Sorts into index order, in place. Entries with byte-identical headwords keep their
// word-list order, so the same list always gives the same package.
// threads: how many threads may share the work (0: one per core); the order is the same
// for every count. Once *running (when given) is cleared the sort stops within a few
// milliseconds and returns false, leaving the entries in their order before it.
bool SortEntries(std::vector<DictEntry>* entries, unsigned threads = 1,
                 const std::atomic<bool>* running = nullptr);

// Gives each entry of the sorted list its offset in the data file; returns the total.
uint64_t AssignOffsets(std::vector<DictEntry>* entries);
