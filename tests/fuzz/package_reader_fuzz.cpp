// Any bytes as a package: the reader never crashes, hangs or reads beyond the file; an
// explanation it hands out has the size the index gives it; and a package that verifies
// finds every headword by lookup and exports to a StarDict dictionary that loads.

#include <algorithm>
#include <filesystem>
#include <string>

#include "package/package_reader.h"
#include "platform/file_system.h"
#include "stardict/stardict_export.h"
#include "stardict/stardict_info.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::wstring path = fuzz::ScratchFile(L"p.ldic");
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  CPackageReader reader;
  if (!reader.Open(path)) return 0;
  const bool sound = reader.VerifyContents();
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    std::string text;
    if (reader.ReadExplanation(i, &text) == PackageError::kNone)
      FUZZ_CHECK(text.size() == reader.EntrySize(i), "entry " + std::to_string(i));
    else
      FUZZ_CHECK(!sound, "a sound package's entry " + std::to_string(i) + " cannot be read");
  }
  if (!sound) return 0;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const std::vector<size_t> hits = reader.Lookup(reader.Headword(i));
    FUZZ_CHECK(std::find(hits.begin(), hits.end(), i) != hits.end(),
               "lookup misses entry " + std::to_string(i));
  }
  static const std::wstring folder = fuzz::ScratchFile(L"stardict");
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(folder), ec);
  const StarDictExportResult exported = ExportStarDict(reader, folder, L"x").result;
  FUZZ_CHECK(exported == StarDictExportResult::kDone || exported == StarDictExportResult::kTooLarge,
             "export of a sound package failed");
  if (exported == StarDictExportResult::kDone) {
    LumoDict::CStarDictInfoFile info;
    FUZZ_CHECK(info.Load(folder + platform::kPathSeparator + L"x.ifo"), "the export's .ifo does not load");
    FUZZ_CHECK(static_cast<size_t>(info.m_wordCount) == reader.EntryCount(), "the export's word count");
  }
  return 0;
}
