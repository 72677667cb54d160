#pragma once
// One dictionary entry: a headword and its explanation, both UTF-8 bytes, and the
// place of the explanation in the uncompressed data once the list has been sorted.
//
// A view, handed out by whatever holds the texts (the sorted index hands out its
// headwords and data places, without the explanations, which lie in the data file); it is
// valid as long as that holder.

#include <cstdint>
#include <string_view>

struct DictEntry {
  std::string_view word;
  std::string_view explanation;
  uint32_t offset = 0;
  uint32_t size = 0;
};
