#pragma once
// What a finished conversion hands to the package writer: the sorted index (headwords,
// data offsets and sizes), the sizes the package header states, and the temporary files
// whose bytes become the data section, as far as the run created them.

#include <cstdint>
#include <string>
#include <vector>

#include "package/index_order.h"
#include "package/temp_files.h"

struct ConvertResult {
  CSortedIndex index;  // its EntryCount() entries in index order make the package's index
  uint32_t indexSize = 0;       // bytes of the index: per entry the headword, 0, 4 + 4
  uint32_t dataSize = 0;        // bytes of the explanations back to back
  uint32_t compressedSize = 0;  // bytes of the compressed data file, when compressed
  TempFiles temp;
  bool compress = true;

  // The temporary file whose bytes become the data section, and their count.
  const std::wstring& DataPath() const { return compress ? temp.compressed : temp.data; }
  uint32_t DataSectionSize() const { return compress ? compressedSize : dataSize; }
};
