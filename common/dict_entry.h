#pragma once
// One dictionary entry: a headword and its explanation, both UTF-8 bytes, and the
// place of the explanation in the uncompressed data once the list has been sorted.

#include <cstdint>
#include <string>

struct DictEntry {
  std::string word;
  std::string explanation;
  uint32_t offset = 0;
  uint32_t size = 0;
};
