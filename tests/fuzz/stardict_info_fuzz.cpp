// Any bytes as a StarDict information file beside an index and a data file: loading and
// describing it never crash, and a file that loads is described with its own numbers.

#include <string>

#include "host/dict_description.h"
#include "stardict/stardict_info.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::wstring ifo = [] {
    fuzz::WriteFile(fuzz::ScratchFile(L"d.idx"), std::string(57, 'i'));
    fuzz::WriteFile(fuzz::ScratchFile(L"d.dict"), std::string(100, 'd'));
    return fuzz::ScratchFile(L"d.ifo");
  }();
  fuzz::WriteFile(ifo, std::string_view(reinterpret_cast<const char*>(data), size));
  LumoDict::CStarDictInfoFile info;
  const bool loaded = info.Load(ifo);
  DictDescription description;
  description.Init(ifo);
  const bool described = description.Describe(ifo);
  FUZZ_CHECK(loaded == described, "Load and Describe disagree");
  if (loaded) FUZZ_CHECK(description.wordCount == info.m_wordCount, "word count");
  return 0;
}
