// Any bytes as an MDict dictionary (.mdx). Opening and reading never crash or read outside
// the file; a dictionary that opens hands every one of its keys (by number, each at least
// once), no unreadable entry or alias that leads nowhere carries an explanation, an entry
// without a problem has a headword, and two readings give the same entries.

#include <string>
#include <vector>

#include "mdict/mdict_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Reading {
  std::vector<std::string> entries;  // number, word, explanation, problem, link
  bool ok = false;
  uint64_t count = 0;
};

Reading ReadAll(const std::wstring& path, const MdictOptions& options) {
  Reading reading;
  CMdictReader reader;
  if (!reader.Open(path)) return reading;
  reading.count = reader.EntryCount();
  std::vector<bool> handed(static_cast<size_t>(reading.count), false);
  reading.ok =
      reader
          .ReadEntries(
              options,
              [&](const MdictEntry& e) {
                FUZZ_CHECK(e.number >= 1 && e.number <= reading.count, "an entry number outside the keys");
                FUZZ_CHECK(e.problem == MdictProblem::kNone || e.problem == MdictProblem::kEmptyHeadword ||
                               e.explanation.empty(),
                           "an unreadable entry or a lost alias with an explanation");
                FUZZ_CHECK(e.problem != MdictProblem::kNone || !e.word.empty(), "an empty headword not told");
                handed[static_cast<size_t>(e.number - 1)] = true;
                reading.entries.push_back(std::to_string(e.number) + '\1' + std::string(e.word) + '\1' +
                                          std::string(e.explanation) + '\1' +
                                          std::to_string(static_cast<int>(e.problem)) + (e.link ? "l" : ""));
                return true;
              })
          .ok();
  if (reading.ok)
    for (size_t i = 0; i < handed.size(); ++i)
      FUZZ_CHECK(handed[i], "key " + std::to_string(i + 1) + " was dropped");
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::wstring path = fuzz::ScratchFile(L"d.mdx");
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  MdictOptions raw, text, kept;
  raw.rawRecords = true;
  kept.keepMarkup = true;
  for (const MdictOptions* options : {&raw, &text, &kept}) {
    const Reading first = ReadAll(path, *options);
    const Reading second = ReadAll(path, *options);
    FUZZ_CHECK(first.ok == second.ok && first.entries == second.entries, "two readings differ");
  }
  return 0;
}
