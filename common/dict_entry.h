#pragma once
// One dictionary entry: a headword and its explanation, both UTF-8 bytes, and the
// place of the explanation in the uncompressed data once the list has been sorted.
//
// The texts are views into the text arena of the job that holds the entry: a million
// entries then cost one allocation per megabyte of text instead of two per entry, and the
// sort moves 40-byte records instead of strings.

#include <cstdint>
#include <string_view>

struct DictEntry {
  std::string_view word;
  std::string_view explanation;
  uint32_t offset = 0;
  uint32_t size = 0;
};
