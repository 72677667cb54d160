#pragma once
// The index order: ASCII letters compared without regard to case first, plain unsigned
// bytes second (the order of StarDict index files).

#include <string_view>
#include <vector>

#include "common/dict_entry.h"

// Negative, zero or positive as a sorts before, with or after b.
int CompareHeadwords(std::string_view a, std::string_view b);

bool EntryLess(const DictEntry& a, const DictEntry& b);

// Sorts into index order, in place. Entries with byte-identical headwords are ordered by
// their explanations, so the same list always gives the same package whatever the sort
// algorithm; entries identical in both are interchangeable.
void SortEntries(std::vector<DictEntry>* entries);

// Gives each entry of the sorted list its offset in the data file; returns the total.
uint64_t AssignOffsets(std::vector<DictEntry>* entries);
