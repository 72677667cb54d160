// Any bytes as a whole StarDict dictionary: the input is cut at each "\n--\n" into the
// .ifo, the .idx, the data (a .dict.dz when it starts as gzip does, else a .dict) and the
// .syn. Opening and reading never crash or read outside the files, every entry's text is
// no longer than the data can make it, and two readings give the same entries.

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "stardict/stardict_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Reading {
  std::vector<std::string> entries;  // word, explanation, flags
  bool ok = false;
};

Reading ReadAll(const std::wstring& ifo, const StarDictOptions& options, size_t* longest) {
  Reading reading;
  CStarDictReader reader;
  if (!reader.Open(ifo)) return reading;
  reading.ok = reader.ReadEntries(options, [&](const StarDictEntry& e) {
    if (e.explanation.size() > *longest) *longest = e.explanation.size();
    reading.entries.push_back(std::string(e.word) + '\1' + std::string(e.explanation) + '\1' +
                              std::to_string(e.binaryFields) + (e.unreadable ? "u" : "") +
                              (e.synonym ? "s" : ""));
    return true;
  }).ok();
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  for (size_t at = 0; parts.size() < 4;) {
    const size_t cut = parts.size() == 3 ? std::string_view::npos : input.find("\n--\n", at);
    parts.push_back(input.substr(at, cut == std::string_view::npos ? cut : cut - at));
    if (cut == std::string_view::npos) break;
    at = cut + 4;
  }
  parts.resize(4);
  static const std::wstring ifo = fuzz::ScratchFile(L"d.ifo");
  fuzz::WriteFile(ifo, parts[0]);
  fuzz::WriteFile(fuzz::ScratchFile(L"d.idx"), parts[1]);
  const bool gzip = parts[2].size() >= 2 && parts[2][0] == '\x1F' && parts[2][1] == '\x8B';
  const std::wstring plain = fuzz::ScratchFile(L"d.dict");
  const std::wstring dz = fuzz::ScratchFile(L"d.dict.dz");
  fuzz::WriteFile(gzip ? dz : plain, parts[2]);
  if (gzip) platform::RemoveFile(plain); else platform::RemoveFile(dz);
  const std::wstring syn = fuzz::ScratchFile(L"d.syn");
  if (parts[3].empty()) platform::RemoveFile(syn); else fuzz::WriteFile(syn, parts[3]);

  for (const bool keepMarkup : {false, true}) {
    StarDictOptions options;
    options.keepMarkup = keepMarkup;
    size_t longest = 0;
    const Reading first = ReadAll(ifo, options, &longest);
    const Reading second = ReadAll(ifo, options, &longest);
    FUZZ_CHECK(first.ok == second.ok && first.entries == second.entries, "two readings differ");
    // A field's text is at most three times its bytes (a byte of a code page, a
    // character reference), and fields take at least a byte each beside their text.
    if (!gzip) FUZZ_CHECK(longest <= 3 * parts[2].size(), "text longer than the data can make");
  }
  return 0;
}
