// The preview against the conversion itself: the entries a package gets and the lines its
// run report skips, for word lists in every encoding the dialog offers and for the
// committed dictionaries; its bounds in entries and bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/utf.h"
#include "package/package_reader.h"
#include "platform/text_convert.h"
#include "service/input_preview.h"
#include "tests/stardict/stardict_fixtures.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::TempDir;
using lumo_test::WriteBytes;
using Entries = std::vector<std::pair<std::string, std::string>>;

// Every line a list can have: TAB and a quoted comma, a line without a separator, one
// without a headword ending in a lone CR, an escape left as it is, an unclosed quote, a
// blank line, a repeated headword, and a last line without a break. Its characters are
// in GBK and Big5 alike.
constexpr char kList[] =
    "apple\t\xe4\xb8\xad\xe6\x96\x87\r\n\"b,anana\",\xe6\xb0\xb4\xe6\x9e\x9c\nno separator here\n\t\xe4\xba\xba\r"
    "cherry\t\xe5\xa4\xa7 \\n \xe4\xb8\x80\n\"unclosed, quote\n\ndup\t\xe4\xb8\x80\ndup\t\xe4\xba\x8c";
constexpr char kListGbk[] =
    "apple\t\xd6\xd0\xce\xc4\r\n\"b,anana\",\xcb\xae\xb9\xfb\nno separator here\n\t\xc8\xcb\r"
    "cherry\t\xb4\xf3 \\n \xd2\xbb\n\"unclosed, quote\n\ndup\t\xd2\xbb\ndup\t\xb6\xfe";
constexpr char kListBig5[] =
    "apple\t\xa4\xa4\xa4\xe5\r\n\"b,anana\",\xa4\xf4\xaaG\nno separator here\n\t\xa4H\r"
    "cherry\t\xa4j \\n \xa4@\n\"unclosed, quote\n\ndup\t\xa4@\ndup\t\xa4G";

std::string Utf16(const std::string& utf8, bool little, bool mark) {
  std::string bytes = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (const char16_t unit : Utf8ToUtf16(utf8)) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += little ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

struct Converted {
  Entries entries;  // sorted
  std::vector<std::pair<uint64_t, ReportReason>> skipped;
  TextEncoding encoding = TextEncoding::Ansi;
};

// What ldic convert and the dialog make of request: the package's entries and the lines
// its report names as left out.
Converted Convert(ConvertRequest request, std::optional<TextEncoding> encoding, const TempDir& dir) {
  request.folder = dir.Path();
  request.package = dir.File(L"out.ldic");
  request.facts = {L"n", L"", L"", L"", L"d"};
  lumo_test::RecordingObserver observer;
  std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer, encoding);
  ConvertThreadProc(job.get());
  Converted converted;
  EXPECT_TRUE(FinishConversion(*job, observer.DoneSuccess(), request.package, BuildMetadataBlock(request.facts), {},
                               observer));
  CPackageReader reader;
  EXPECT_TRUE(reader.Open(request.package));
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    std::string explanation;
    EXPECT_EQ(reader.ReadExplanation(i, &explanation), PackageError::kNone);
    converted.entries.emplace_back(std::string(reader.Headword(i)), explanation);
  }
  std::sort(converted.entries.begin(), converted.entries.end());
  for (const ReportedLine& line : job->Report().Lines())
    if (line.reason != ReportReason::kRepaired) converted.skipped.emplace_back(line.line, line.reason);
  converted.encoding = job->Report().Encoding();
  return converted;
}

void ExpectSameAsConversion(const ConvertRequest& request, std::optional<TextEncoding> encoding) {
  TempDir out;
  const Converted converted = Convert(request, encoding, out);
  const InputPreview preview = PreviewInput(request, encoding);
  ASSERT_TRUE(preview.status) << preview.status.Where();
  Entries entries;
  for (const PreviewEntry& e : preview.entries) entries.emplace_back(e.word, e.explanation);
  std::sort(entries.begin(), entries.end());
  // A larger input: its first entries are among the package's, and its skipped lines are
  // the report's up to the last of them.
  if (preview.more) {
    EXPECT_EQ(entries.size(), PreviewLimits().entries);
    EXPECT_TRUE(std::includes(converted.entries.begin(), converted.entries.end(), entries.begin(), entries.end()));
  } else {
    EXPECT_EQ(entries, converted.entries);
  }
  std::vector<std::pair<uint64_t, ReportReason>> skipped, expected;
  for (const ReportedLine& line : preview.skipped) skipped.emplace_back(line.line, line.reason);
  for (const auto& line : converted.skipped)
    if (line.first <= preview.lines) expected.push_back(line);
  EXPECT_EQ(skipped, expected);
  EXPECT_EQ(preview.encoding, converted.encoding);
  if (encoding) {
    EXPECT_EQ(preview.detected, Convert(request, std::nullopt, out).encoding);
  }
}

}  // namespace

TEST(InputPreview, GivesTheConversionsEntriesAndSkippedLinesInEveryEncoding) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<TextEncoding> encoding;  // chosen; none: detected
    unsigned codePage = 0;
  };
  const std::string list = kList;
  const Case cases[] = {
      {"utf-8", list, std::nullopt},
      {"utf-8 with its mark", "\xEF\xBB\xBF" + list, std::nullopt},
      {"utf-8 chosen", list, TextEncoding::Utf8},
      {"utf-16le", Utf16(list, true, true), std::nullopt},
      {"utf-16be without its mark, chosen", Utf16(list, false, false), TextEncoding::Utf16BE},
      {"gbk", kListGbk, std::nullopt, 936},
      {"gb18030 chosen", kListGbk, TextEncoding::Ansi, 54936},
      {"big5 chosen", kListBig5, TextEncoding::Ansi, 950},
      // The wrong choice still gives what the conversion gives.
      {"gbk read as utf-8", kListGbk, TextEncoding::Utf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Wine knows no GB18030; Windows and iconv do.
    if (c.codePage != 0 && !platform::IsCodePageSupported(c.codePage)) continue;
    TempDir dir;
    ConvertRequest request;
    request.wordList = dir.File(L"w.txt");
    request.codePage = c.codePage;
    WriteBytes(request.wordList, c.bytes);
    ExpectSameAsConversion(request, c.encoding);
    const InputPreview preview = PreviewInput(request, c.encoding);
    EXPECT_EQ(preview.lines, 9u);
    EXPECT_EQ(std::vector<uint64_t>({preview.shapes.crLf, preview.shapes.lf, preview.shapes.cr, preview.shapes.tabs,
                                     preview.shapes.commas}),
              std::vector<uint64_t>({1, 6, 1, 5, 1}));
    ASSERT_EQ(preview.entries.size(), 5u);
    EXPECT_EQ(preview.entries[2].line, 5u);  // in list order, with their lines
    EXPECT_EQ(preview.entries[2].word, "cherry");
  }

  // The committed fixtures: a GBK list, a StarDict dictionary a StarDict tool wrote and
  // MDict dictionaries another writer made.
  ConvertRequest gbk;
  gbk.wordList = host_test::FixturePath(L"fruit-gbk.txt");
  gbk.codePage = 936;
  ExpectSameAsConversion(gbk, std::nullopt);
  ConvertRequest stardict;
  stardict.format = InputFormat::kStarDict;
  stardict.wordList = host_test::FixturePath(L"tabfile-dict.ifo");
  ExpectSameAsConversion(stardict, std::nullopt);
  const InputPreview facts = PreviewInput(stardict, std::nullopt);
  EXPECT_EQ(facts.name, L"简明英汉");
  EXPECT_EQ(facts.declaredEntries, 4u);
  for (const wchar_t* name : {L"v1_2_zlib.mdx", L"v2_gbk.mdx", L"v2_lzo.mdx", L"v2_utf8_html.mdx"}) {
    SCOPED_TRACE(WideToUtf8(name));
    ConvertRequest mdict;
    mdict.format = InputFormat::kMdict;
    mdict.wordList = host_test::FixturePath(std::wstring(L"mdict/") + name);
    ExpectSameAsConversion(mdict, std::nullopt);
    EXPECT_NE(PreviewInput(mdict, std::nullopt).declaredEntries, 0u);
  }
}

TEST(InputPreview, StopsAtItsEntriesAndReadsNoMoreThanItsBytes) {
  TempDir dir;
  ConvertRequest request;
  request.wordList = dir.File(L"w.txt");

  // Enough entries: the first 200, and the skipped lines among them only.
  std::string list;
  for (int i = 1; i <= 1000; ++i)
    list.append(i == 50 || i == 500 ? "bad line" : 'w' + std::to_string(i) + "\tx").append("\n");
  WriteBytes(request.wordList, list);
  InputPreview preview = PreviewInput(request, std::nullopt);
  ASSERT_EQ(preview.entries.size(), 200u);
  EXPECT_TRUE(preview.more);
  EXPECT_EQ(preview.entries.back().word, "w201");
  EXPECT_EQ(preview.lines, 201u);
  ASSERT_EQ(preview.skipped.size(), 1u);
  EXPECT_EQ(preview.skipped[0].line, 50u);
  EXPECT_EQ(preview.shapes.lf, 201u);

  // A large list whose entries come after the bound: none of them is seen, nor the line
  // the bound cuts, and the file is closed afterwards.
  const PreviewLimits limits{200, 1 << 20};
  const size_t cut = (1u << 20) - 8;
  list = "first\tentry\n";
  while (list.size() + 50 <= cut) list += "a line without separator\n";
  list += std::string(cut - list.size() - 1, 'y') + "\n";
  list += "cut\tby the bound\n";
  while (list.size() < (3u << 20)) list += "later\tentry\n";
  WriteBytes(request.wordList, list);
  preview = PreviewInput(request, std::nullopt, limits);
  ASSERT_EQ(preview.entries.size(), 1u);
  EXPECT_TRUE(preview.more);
  EXPECT_EQ(preview.lines, static_cast<uint64_t>(std::count(list.begin(), list.begin() + cut, '\n')));
  EXPECT_EQ(preview.skipped.size(), 200u);
  WriteBytes(request.wordList, "again\t1\n");
  EXPECT_EQ(PreviewInput(request, std::nullopt).entries.size(), 1u);

  // A dictionary's first entries, numbered as the run report numbers them.
  using namespace stardict_test;
  std::vector<Record> records;
  for (int i = 0; i < 300; ++i)
    records.push_back({i == 7 ? "" : std::string("w").append(std::to_string(1000 + i)), {{'m', "x"}}});
  request.wordList = WriteDictionary(dir, records, Layout{"m", false, Data::kPlain, false});
  request.format = InputFormat::kStarDict;
  preview = PreviewInput(request, std::nullopt);
  ASSERT_EQ(preview.entries.size(), 200u);
  EXPECT_TRUE(preview.more);
  EXPECT_EQ(preview.declaredEntries, 300u);
  EXPECT_EQ(preview.entries[7].line, 9u);
  ASSERT_EQ(preview.skipped.size(), 1u);
  EXPECT_EQ(preview.skipped[0].line, 8u);
}
