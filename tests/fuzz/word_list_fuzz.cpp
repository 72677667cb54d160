// Any bytes as a word list: bytes the reader finds to be no text are refused as such, and
// nothing is made of them; from any others the package made verifies, holds exactly the
// entries a plain line-by-line reading of the same bytes gives (whichever of the job's
// paths read them: whole-file UTF-8 or UTF-16, on one thread or two, or the ANSI lines),
// and is the same byte for byte for one thread and for two. Read with the explanations'
// escapes, it holds the same entries with each explanation unescaped.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/convert_job.h"
#include "package/format.h"
#include "package/package_reader.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "tests/fuzz/fuzz_support.h"
#include "textio/line_parse.h"
#include "textio/text_file.h"
#include "textio/word_list_source.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The entries of the list read line by line, as stored (UTF-8), sorted; *text tells
// whether the reader takes the bytes for text. With unescape, the explanations' escapes
// are read.
Entries Reference(const std::wstring& path, bool* text, bool unescape = false) {
  Entries entries;
  platform::CFile file;
  *text = true;
  if (!file.Open(path)) return entries;
  CTextFileRead reader(&file);
  *text = reader.IsText();
  const bool utf8 = reader.LinesAreUtf8();
  std::string line, word, explanation;
  while (!reader.IsEndOfFile() && reader.ReadLine(line)) {
    LineFields fields;
    if (!SplitLine(line, &fields) || fields.first.empty()) continue;
    if (utf8) {
      entries.emplace_back(TrimFieldChars(fields.first), TrimFieldChars(fields.second));
      continue;
    }
    if (!AnsiToUtf8(fields.first, &word)) continue;
    AnsiToUtf8(fields.second, &explanation);
    entries.emplace_back(TrimFieldChars(word), TrimFieldChars(explanation));
  }
  if (unescape) {
    for (auto& [word, explanation] : entries) {
      std::string plain;
      UnescapeField(explanation, &plain);
      explanation = std::move(plain);
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Converts the list with the given threads into package; false when the job refused it,
// with the kind of its failure in *refusal.
bool Convert(const std::wstring& list, unsigned threads, const std::wstring& package, StatusKind* refusal,
             bool unescape = false) {
  CConvertJob job(fuzz::ScratchFolder());
  job.SetThreads(threads);
  WordListOptions options;
  options.parallelFrom = 16;  // small lists are parsed by two threads too
  options.unescape = unescape;
  job.SetSource(OpenWordListFile(list, options));
  job.Start();
  const bool converted = job.Convert() &&
                         WritePackage(job.Result(), package, BuildMetadataBlock({L"f", L"", L"", L"", L"d"})).ok();
  *refusal = job.Outcome().Kind();
  DeleteTempFiles(job.Result());
  return converted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::wstring list = fuzz::ScratchFile(L"list.txt");
  static const std::wstring one = fuzz::ScratchFile(L"one.ldic");
  static const std::wstring two = fuzz::ScratchFile(L"two.ldic");
  fuzz::WriteFile(list, std::string_view(reinterpret_cast<const char*>(data), size));
  bool text = true;
  const Entries expected = Reference(list, &text);

  StatusKind refusalOne = StatusKind::kOk, refusalTwo = StatusKind::kOk;
  const bool convertedOne = Convert(list, 1, one, &refusalOne);
  const bool convertedTwo = Convert(list, 2, two, &refusalTwo);
  FUZZ_CHECK(convertedOne == convertedTwo, "one thread and two disagree on success");
  FUZZ_CHECK((refusalOne == StatusKind::kNotText) == !text, "the job and the reader disagree on text");
  if (!text) return 0;
  // A list that gives no entry may be refused; any other must convert.
  FUZZ_CHECK(convertedOne || expected.empty(), std::to_string(expected.size()) + " entries refused");
  if (!convertedOne) return 0;
  FUZZ_CHECK(fuzz::ReadFile(one) == fuzz::ReadFile(two), "the packages differ by thread count");

  const auto check = [](const std::wstring& package, const Entries& expected) {
    CPackageReader reader;
    FUZZ_CHECK(reader.Open(package) && reader.VerifyContents(), "the package does not verify");
    Entries entries;
    for (size_t i = 0; i < reader.EntryCount(); ++i) {
      std::string text;
      FUZZ_CHECK(reader.ReadExplanation(i, &text) == PackageError::kNone, "entry unreadable");
      entries.emplace_back(std::string(reader.Headword(i)), std::move(text));
    }
    std::sort(entries.begin(), entries.end());
    FUZZ_CHECK(entries == expected, std::to_string(entries.size()) + " entries in the package, " +
                                        std::to_string(expected.size()) + " read line by line");
  };
  check(one, expected);
  FUZZ_CHECK(Convert(list, 2, two, &refusalTwo, true), "refused when unescaping");
  check(two, Reference(list, &text, true));
  return 0;
}
