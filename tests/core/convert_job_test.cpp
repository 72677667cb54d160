// The conversion job end to end on real files: reading, accounting, the data file, the
// compressed file, progress, cancel and every failure the user is told of.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "common/memory_fault.h"
#include "common/utf.h"
#include "core/convert_job.h"
#include "package/format.h"
#include "package/index_order.h"
#include "package/package_reader.h"
#include "package/package_writer.h"
#include "textio/line_parse.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/text_convert.h"
#include "tests/support/test_support.h"
#include "textio/text_file.h"
#include "textio/word_list_source.h"

namespace {

using lumo_test::ReadBytes;
using lumo_test::RecordingObserver;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

TEST(ConvertJob, ReadsSortsAndWritesTheDataFile) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "bee,insect\r\nno separator\r\napple\tred fruit\r\n,orphan\r\nempty\t\r\n");
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  job.SetObserver(&observer);
  job.SetSource(OpenWordListFile(dir.File(L"w.txt")));
  job.Start();
  std::thread worker(ConvertThreadProc, &job);
  worker.join();

  EXPECT_EQ(observer.DoneCount(), 1);
  EXPECT_TRUE(observer.DoneSuccess());
  EXPECT_EQ(observer.Progress(), (std::vector<int>{30, 50, 80}));
  EXPECT_TRUE(observer.Warnings().empty());
  EXPECT_TRUE(job.Outcome().ok());

  // ",orphan" has no headword and is dropped; "empty\t" keeps an empty explanation.
  ASSERT_EQ(job.Result().index.size(), 3u);
  EXPECT_EQ(job.Result().index[0].word, "apple");
  EXPECT_EQ(job.Result().index[1].word, "bee");
  EXPECT_EQ(job.Result().index[2].word, "empty");
  EXPECT_EQ(job.Result().index[1].offset, 9u);
  EXPECT_EQ(job.Result().index[2].offset, 15u);
  EXPECT_EQ(job.Result().index[2].size, 0u);
  EXPECT_EQ(job.Result().indexSize, (5 + 9) + (3 + 9) + (5 + 9u));
  EXPECT_EQ(job.Result().dataSize, 15u);
  EXPECT_EQ(ReadBytes(job.Result().temp.data), "red fruitinsect");
  EXPECT_EQ(ReadBytes(job.Result().temp.compressed).size(), job.Result().compressedSize);
  EXPECT_EQ(job.Result().temp.data, dir.File(L"LumoDictTemp.des"));
  EXPECT_EQ(job.Result().temp.compressed, dir.File(L"LumoDictTemp.des.dz"));
}

// Repeated headwords kept, merged or only the first kept: the entries a package reader
// finds, and the same package bytes whether the explanations were held or read again a few
// bytes at a time, by one thread or two.
TEST(ConvertJob, RepeatedHeadwordsAreKeptMergedOrDropped) {
  using Entries = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* name;
    std::string list;
    Entries keep, merge, first;
    std::vector<uint64_t> folded;  // the lines of the entries merged or dropped
  };
  const Case cases[] = {
      {"no repeats", "b\tbee\na\tant\n", {{"a", "ant"}, {"b", "bee"}}, {{"a", "ant"}, {"b", "bee"}},
       {{"a", "ant"}, {"b", "bee"}}, {}},
      {"three times, apart", "w\tone\nz\tzed\n\nw\ttwo\nno separator\nw\tthree\n",
       {{"w", "one"}, {"w", "two"}, {"w", "three"}, {"z", "zed"}},
       {{"w", "one\ntwo\nthree"}, {"z", "zed"}}, {{"w", "one"}, {"z", "zed"}}, {4, 6}},
      {"case variants", "cat\tsmall\nCat\tbig\nCAT\tall\ncat\tagain\n",
       {{"CAT", "all"}, {"Cat", "big"}, {"cat", "small"}, {"cat", "again"}},
       {{"CAT", "all"}, {"Cat", "big"}, {"cat", "small\nagain"}}, {{"CAT", "all"}, {"Cat", "big"}, {"cat", "small"}},
       {4}},
      {"empty explanations", "e\t\nf\t\ne\tmid\nf\t\ne\t\ng\tlast\n",
       {{"e", ""}, {"e", "mid"}, {"e", ""}, {"f", ""}, {"f", ""}, {"g", "last"}},
       {{"e", "\nmid\n"}, {"f", "\n"}, {"g", "last"}}, {{"e", ""}, {"f", ""}, {"g", "last"}}, {3, 4, 5}},
  };
  // Held by one thread or two; read again for windows of a few bytes by one thread or two.
  struct Way {
    unsigned threads;
    size_t window;  // 0: held
  } const ways[] = {{1, 0}, {2, 0}, {1, 3}, {2, 5}};
  const std::u16string meta = BuildMetadataBlock({L"n", L"", L"", L"", L"d"});
  for (const Case& c : cases) {
    TempDir dir;
    WriteBytes(dir.File(L"w.txt"), c.list);
    for (const DuplicatePolicy policy : {DuplicatePolicy::kKeep, DuplicatePolicy::kMerge, DuplicatePolicy::kFirst}) {
      const Entries& expected = policy == DuplicatePolicy::kKeep    ? c.keep
                                : policy == DuplicatePolicy::kMerge ? c.merge
                                                                    : c.first;
      std::string firstPackage;
      for (const Way& way : ways) {
        SCOPED_TRACE(testing::Message() << c.name << ", policy " << static_cast<int>(policy) << ", threads "
                                        << way.threads << ", window " << way.window);
        CConvertJob job(dir.Path());
        job.SetThreads(way.threads);
        job.SetDuplicates(policy);
        if (way.window) {
          job.SetHoldLimit(1);
          job.SetWindowSize(way.window);
        }
        RecordingObserver observer;
        ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
        EXPECT_EQ(job.ReadListAgain(), way.window != 0);
        ASSERT_TRUE(WritePackage(job.Result(), dir.File(L"w.ldic"), meta).ok());
        DeleteTempFiles(job.Result());
        const std::string package = ReadBytes(dir.File(L"w.ldic"));
        if (firstPackage.empty()) firstPackage = package;
        EXPECT_TRUE(package == firstPackage) << "not the package of the first way";

        CPackageReader reader;
        ASSERT_TRUE(reader.Open(dir.File(L"w.ldic")));
        EXPECT_TRUE(reader.VerifyContents()) << DescribeProblem(reader.Problems()[0]);
        Entries found;
        for (size_t e = 0; e < reader.EntryCount(); ++e) {
          std::string explanation;
          EXPECT_EQ(reader.ReadExplanation(e, &explanation), PackageError::kNone);
          found.emplace_back(reader.Headword(e), explanation);
        }
        EXPECT_EQ(found, expected);

        const CRunReport& report = job.Report();
        const bool folds = policy != DuplicatePolicy::kKeep;
        EXPECT_EQ(report.Entries(), expected.size());
        EXPECT_EQ(report.MergedEntries(), policy == DuplicatePolicy::kMerge ? c.folded.size() : 0u);
        EXPECT_EQ(report.DroppedEntries(), policy == DuplicatePolicy::kFirst ? c.folded.size() : 0u);
        bool more = false;
        EXPECT_EQ(report.LineNumbers({ReportReason::kMerged, ReportReason::kDropped}, 10, &more),
                  folds ? c.folded : std::vector<uint64_t>{});
      }
    }
  }
}

TEST(ConvertJob, ListsWithoutEntriesFailAndWriteNothing) {
  const std::string lists[] = {"", "no separator\n\n", "\n\r\n\n", ",orphan\n\"open, quote\n",
                               "\xFF\xFE", std::string("\xFF\xFE\0\0", 4)};
  for (const std::string& list : lists) {
    SCOPED_TRACE(testing::PrintToString(list));
    TempDir dir;
    WriteBytes(dir.File(L"w.txt"), list);
    CConvertJob job(dir.Path());
    RecordingObserver observer;
    EXPECT_FALSE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
    EXPECT_EQ(job.Outcome().Kind(), StatusKind::kNoEntries);
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kNoEntries});
    EXPECT_TRUE(job.Result().temp.data.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path())),
                            std::filesystem::directory_iterator()), 1);
  }
}

// A list of about 1.7 MB with problems on both sides of its middle (where two threads
// part it): lines that give no entry, repaired lines, a blank line, a repeated headword.
struct BadList {
  std::string text;
  std::vector<std::pair<uint64_t, ReportReason>> problems;
  uint64_t lines = 0;
  uint64_t entries = 0;
};

BadList MakeBadList(const std::string& lineBreak, bool invalidBytes, bool ansi, bool tooLong = false) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 60000; ++i)
    lines.push_back("word" + std::to_string(i) + "\texplanation " + std::to_string(i));
  BadList list;
  const auto put = [&](uint64_t at, std::string line, std::optional<ReportReason> reason) {
    lines[at - 1] = std::move(line);
    if (reason) list.problems.emplace_back(at, *reason);
  };
  put(3, "no separator here", ReportReason::kNoSeparator);
  put(17, "\"open quote, no end", ReportReason::kUnclosedQuote);
  put(42, ",orphan", ReportReason::kEmptyHeadword);
  put(43, "", std::nullopt);
  put(108, "dup,1", std::nullopt);
  put(109, "dup,2", std::nullopt);
  put(110, "DUP,3", std::nullopt);
  if (invalidBytes) put(230, "bad\xFF\xFE" "bytes,x", ReportReason::kRepaired);
  if (ansi) put(500, "caf\xE9,coffee", std::nullopt);
  put(29999, std::string("nul\0inside,x", 12), ReportReason::kRepaired);
  put(30001, "\t", ReportReason::kEmptyHeadword);
  put(30002, "   ", ReportReason::kNoSeparator);
  put(59999, "last bad", ReportReason::kNoSeparator);
  // Read past without being held, over several pieces of the file.
  if (tooLong) put(40000, "long\t" + std::string(kMaxLineBytes, 'x'), ReportReason::kTooLong);
  std::sort(list.problems.begin(), list.problems.end());
  for (const std::string& line : lines) list.text += line + lineBreak;
  list.lines = lines.size();
  list.entries = lines.size() - 7 - tooLong;  // six lines skipped, one blank
  return list;
}

// A UTF-8 list, to follow a byte-order mark, whose two threads part it between the CR and
// the LF of one line break: a last line pads the file to twice that position.
void PartWithinCrLf(BadList* list) {
  const size_t size = list->text.size();
  size_t lf = list->text.find("\r\n", size / 2 + 100) + 1;
  const size_t pad = 2 * lf - 3 - size;
  list->text += "pad," + std::string(pad - 6, 'x') + "\r\n";
  ++list->lines;
  ++list->entries;
}

std::string Utf16(const std::string& utf8, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : Utf8ToUtf16(utf8)) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += little ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

TEST(ConvertJob, RunReportNamesEveryBadLineInEveryWayOfReading) {
  struct Case {
    const char* name;
    std::string bytes;
    BadList list;
    TextEncoding encoding;
    uint64_t replaced;
  };
  std::vector<Case> cases;
  const BadList lf = MakeBadList("\n", true, false);
  // Invalid bytes in a list that holds no other non-ASCII text would make it ANSI without
  // a mark.
  const std::string bom = "\xEF\xBB\xBF";
  cases.push_back({"utf-8", bom + lf.text, lf, TextEncoding::Utf8, 2});
  BadList crLf = MakeBadList("\r\n", true, false);
  PartWithinCrLf(&crLf);
  cases.push_back({"utf-8 parted within CR LF", bom + crLf.text, crLf, TextEncoding::Utf8, 2});
  const BadList valid = MakeBadList("\r\n", false, false);
  const BadList validTooLong = MakeBadList("\r\n", false, false, true);
  cases.push_back({"utf-16le", Utf16(validTooLong.text, true), validTooLong, TextEncoding::Utf16LE, 0});
  cases.push_back({"utf-16be", Utf16(valid.text, false), valid, TextEncoding::Utf16BE, 0});
  const BadList ansi = MakeBadList("\n", false, true, true);
  cases.push_back({"ansi, read line by line", ansi.text, ansi, TextEncoding::Ansi, 0});

  for (const Case& c : cases) {
    TempDir dir;
    WriteBytes(dir.File(L"w.txt"), c.bytes);
    // The repeat of "dup" on line 109 is named by its line as well, dropped or merged.
    for (unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << c.name << ", threads " << threads);
      CConvertJob job(dir.Path());
      job.SetThreads(threads);
      const bool merge = threads == 2;
      job.SetDuplicates(merge ? DuplicatePolicy::kMerge : DuplicatePolicy::kFirst);
      RecordingObserver observer;
      ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
      const CRunReport& report = job.Report();
      EXPECT_EQ(report.Encoding(), c.encoding);
      EXPECT_EQ(report.LinesRead(), c.list.lines);
      EXPECT_EQ(report.Entries(), c.list.entries - 1);
      EXPECT_EQ(report.MergedEntries() + report.DroppedEntries(), 1u);
      EXPECT_EQ(job.Result().index.size(), c.list.entries);
      EXPECT_EQ(report.Skipped(LineProblem::kNoSeparator), 3u);
      EXPECT_EQ(report.Skipped(LineProblem::kUnclosedQuote), 1u);
      EXPECT_EQ(report.Skipped(LineProblem::kEmptyHeadword), 2u);
      EXPECT_EQ(report.Skipped(LineProblem::kTooLong), c.list.lines - c.list.entries - 7);
      EXPECT_EQ(report.RepairedLines(), c.replaced ? 2u : 1u);
      EXPECT_EQ(report.BytesReplaced(), c.replaced);
      EXPECT_EQ(report.NulsDropped(), 1u);
      EXPECT_EQ(report.RepeatedHeadwords(), 1u);  // "dup"; "DUP" is another headword
      std::vector<std::pair<uint64_t, ReportReason>> seen;
      for (const ReportedLine& line : report.Lines()) seen.emplace_back(line.line, line.reason);
      std::vector<std::pair<uint64_t, ReportReason>> problems = c.list.problems;
      problems.emplace_back(109, merge ? ReportReason::kMerged : ReportReason::kDropped);
      std::sort(problems.begin(), problems.end());
      EXPECT_EQ(seen, problems);
      ASSERT_FALSE(report.Lines().empty());
      EXPECT_EQ(report.Lines()[0].text, "no separator here");
      DeleteTempFiles(job.Result());
    }
  }
}

// Cancels its job at the first progress position from..to.
class CancellingObserver : public RecordingObserver {
 public:
  CancellingObserver(CConvertJob* job, int from, int to) : m_job(job), m_from(from), m_to(to) {}
  void OnConvertProgress(int percent) override {
    RecordingObserver::OnConvertProgress(percent);
    if (percent >= m_from && percent <= m_to) m_job->Cancel();
  }

 private:
  CConvertJob* m_job;
  int m_from, m_to;
};

std::string ManyLines() {
  std::string list;
  for (int i = 0; i < 40000; ++i)
    list += "w" + std::to_string(i * 7919 % 40009) + "\t" + std::to_string(i * 31) +
            " an explanation that fills the data file " + std::to_string(i) + "\n";
  return list;
}

TEST(ConvertJob, CancelStopsEveryPhaseAndLeavesNothing) {
  // Each phase's positions, and the first position after it: a cancel in the phase never
  // lets the run reach it. The sort, which reports nothing, is checked on its own.
  struct Phase {
    const char* name;
    int from, to, next;
  } const phases[] = {{"reading", 6, 28, 30}, {"data file", 30, 30, 50}, {"compression", 51, 79, 80}};
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), ManyLines());
  for (unsigned threads : {1u, 2u}) {
    for (const Phase& phase : phases) {
      SCOPED_TRACE(testing::Message() << phase.name << ", threads " << threads);
      TempDir work;
      CConvertJob job(work.Path());
      job.SetThreads(threads);
      CancellingObserver observer(&job, phase.from, phase.to);
      EXPECT_FALSE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
      EXPECT_EQ(job.Outcome().Kind(), StatusKind::kCancelled);
      EXPECT_TRUE(observer.Warnings().empty());
      const std::vector<int> progress = observer.Progress();
      ASSERT_FALSE(progress.empty());
      EXPECT_GE(progress.back(), phase.from);
      EXPECT_LT(progress.back(), phase.next);
      EXPECT_TRUE(DeleteTempFiles(job.Result()));
      EXPECT_TRUE(std::filesystem::is_empty(lumo_test::FsPath(work.Path())));
    }
  }
}

TEST(ConvertJob, ProgressMovesForwardThroughEveryPhase) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), ManyLines());
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    CConvertJob job(dir.Path());
    job.SetThreads(threads);
    RecordingObserver observer;
    ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
    const std::vector<int> p = observer.Progress();
    EXPECT_LE(p.size(), 100u);
    EXPECT_TRUE(std::adjacent_find(p.begin(), p.end(), std::greater_equal<int>()) == p.end());
    EXPECT_GT(p.front(), 5);
    EXPECT_EQ(p.back(), 80);
    for (const auto& [from, to] : {std::pair{5, 30}, {30, 50}, {50, 80}}) {
      EXPECT_TRUE(std::any_of(p.begin(), p.end(), [from = from, to = to](int v) { return v > from && v < to; }))
          << "nothing between " << from << " and " << to;
    }
    DeleteTempFiles(job.Result());
  }
}

TEST(ConvertJob, UnicodeWordListsLoseNothing) {
  TempDir dir;
  // UTF-16LE with a character outside the Basic Multilingual Plane and one that no ANSI
  // code page holds together with Chinese.
  const std::u16string text = u"\U0001F600,smile\r\n\u4F60\u597D,\u00E9t\u00E9 \u0416";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) bytes += std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  WriteBytes(dir.File(L"w.txt"), bytes);
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
  ASSERT_EQ(job.Result().index.size(), 2u);
  EXPECT_EQ(job.Result().index[0].word, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(job.Result().index[1].word, "\xF0\x9F\x98\x80");  // sorts by code point
  EXPECT_EQ(ReadBytes(job.Result().temp.data).substr(0, job.Result().index[0].size), "\xC3\xA9t\xC3\xA9 \xD0\x96");
}

TEST(ConvertJob, AnsiWordListIsConvertedThroughTheCodePage) {
#ifndef _WIN32
  setenv("LC_ALL", "zh_CN.UTF-8", 1);
#endif
  if (platform::AnsiCodePage() != 936) GTEST_SKIP() << "needs the Chinese ANSI code page";
  TempDir dir;
  // English first, then GBK: the start of the file must not decide the encoding.
  WriteBytes(dir.File(L"w.txt"), "hello,world\r\n\xD6\xD0\xCE\xC4,Chinese\r\n");
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
  ASSERT_EQ(job.Result().index.size(), 2u);
  EXPECT_EQ(job.Result().index[1].word, "\xE4\xB8\xAD\xE6\x96\x87");  // two characters, 6 bytes
  EXPECT_EQ(job.Result().indexSize, (5 + 9) + (6 + 9u));
#ifndef _WIN32
  unsetenv("LC_ALL");
#endif
}

// A UTF-8 list of a few megabytes (over 100,000 lines) read in pieces of any size,
// parsed by one or two threads, its data file filled in one window or in many: every way
// gives exactly the entries of reading it line by line, in the same order, and the same
// data files. So do the same list's UTF-16 forms.
TEST(ConvertJob, ReadingInPiecesMatchesLineByLine) {
  std::string list = "\xEF\xBB\xBF";
  std::mt19937 random(99);
  const char* const breaks[] = {"\n", "\r\n", "\r", "\n\n"};
  const char* const words[] = {"apple", "Apple", "\xE4\xBD\xA0\xE5\xA5\xBD", "\"a,b\"", " pad ", "zebra"};
  for (int i = 0; list.size() < (3u << 20); ++i) {
    list += words[random() % std::size(words)] + std::to_string(random() % 5000);
    list += (i % 3 == 0) ? "," : "\t";
    list += std::string(random() % 16, "xy \xE6\x96\x87"[random() % 6]);
    if (i % 997 == 0) list += std::string(1, '\0') + "nul";
    if (i % 1009 == 0) list += "\xFF\xE4\xBD";  // invalid: cleaned to U+FFFD
    if (i % 50000 == 0) list += std::string(100000, 'L');  // longer than a piece
    list += breaks[random() % std::size(breaks)];
  }

  // The reference: the file reader's lines, split, trimmed and stably sorted.
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), list);
  std::vector<std::pair<std::string, std::string>> expected;
  {
    platform::CFile file;
    ASSERT_TRUE(file.Open(dir.File(L"w.txt")));
    CTextFileRead reader(&file);
    std::string line;
    while (!reader.IsEndOfFile() && reader.ReadLine(line)) {
      LineFields fields;
      if (!SplitLine(line, &fields) || fields.first.empty()) continue;
      expected.emplace_back(TrimFieldChars(fields.first), TrimFieldChars(fields.second));
    }
  }
  std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    return CompareHeadwords(a.first, b.first) < 0;
  });
  std::string expectedData;
  for (const auto& e : expected) expectedData += e.second;

  // The same text in UTF-16 of both byte orders; invalid bytes became U+FFFD in it.
  const std::u16string units = Utf8ToUtf16(std::string_view(list).substr(3));
  std::string little = "\xFF\xFE";
  std::string big = "\xFE\xFF";
  for (const char16_t unit : units) {
    little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  }
  WriteBytes(dir.File(L"w16le.txt"), little);
  WriteBytes(dir.File(L"w16be.txt"), big);

  // The same with repeated headwords merged.
  std::vector<std::pair<std::string, std::string>> merged;
  std::string mergedData;
  for (const auto& e : expected) {
    const bool repeat = !merged.empty() && merged.back().first == e.first;
    if (repeat)
      merged.back().second += "\n" + e.second;
    else
      merged.push_back(e);
    mergedData += (repeat ? "\n" : "") + e.second;
  }

  // The explanations held, let go midway, or never held: the list read once or twice.
  struct Way {
    unsigned threads;
    size_t piece;   // 0: as the job chooses
    size_t window;  // 0: as the job chooses
    uint64_t hold;  // 0: as the job chooses
    bool readsAgain;
    DuplicatePolicy policy = DuplicatePolicy::kKeep;
  } const ways[] = {{1, 0, 0, 0, false}, {2, 0, 0, 0, false}, {2, 4097, 700000, 1, true},
                    {1, 1021, 0, 1, true}, {2, 65536, 0, 4 << 20, true},
                    {2, 4097, 700000, 1, true, DuplicatePolicy::kMerge}};
  std::string firstCompressed;
  for (const wchar_t* name : {L"w.txt", L"w16le.txt", L"w16be.txt"}) {
    for (const Way& way : ways) {
      // Repeats are merged the same way whatever the encoding: one file will do.
      const bool merge = way.policy == DuplicatePolicy::kMerge;
      if (merge && name != std::wstring(L"w.txt")) continue;
      const auto& entries = merge ? merged : expected;
      SCOPED_TRACE(testing::Message() << "threads " << way.threads << ", piece " << way.piece
                                      << ", window " << way.window << ", hold " << way.hold
                                      << ", policy " << static_cast<int>(way.policy));
      TempDir work;
      CConvertJob job(work.Path());
      job.SetThreads(way.threads);
      job.SetDuplicates(way.policy);
      if (way.window) job.SetWindowSize(way.window);
      if (way.hold) job.SetHoldLimit(way.hold);
      WordListOptions options;
      options.parallelFrom = 16;
      if (way.piece) options.pieceSize = way.piece;
      job.SetSource(OpenWordListFile(dir.File(name), options));
      job.Start();
      ASSERT_TRUE(job.Convert());
      EXPECT_EQ(job.ReadListAgain(), way.readsAgain);
      const CSortedIndex& index = job.Result().index;
      ASSERT_EQ(index.EntryCount(), entries.size());
      for (size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(index[i].word, entries[i].first) << "at " << i;
        ASSERT_EQ(index[i].size, entries[i].second.size()) << "at " << i;
      }
      EXPECT_TRUE(ReadBytes(job.Result().temp.data) == (merge ? mergedData : expectedData));
      const std::string compressed = ReadBytes(job.Result().temp.compressed);
      if (firstCompressed.empty()) firstCompressed = compressed;
      if (!merge) {
        EXPECT_TRUE(compressed == firstCompressed);
      }
      DeleteTempFiles(job.Result());
    }
  }
}

// A list that changes after it was first read, however slightly, fails the run with its
// own message and leaves nothing behind; so does one that can no longer be read.
TEST(ConvertJob, AListChangedBetweenItsReadingsFails) {
#ifdef _WIN32
  GTEST_SKIP() << "the list is open without sharing: nothing can change it";
#else
  // Changed when the sort is done, before the list is read again; or, for a list read once
  // with its explanations held, while it is read.
  struct Change {
    const char* name;
    std::function<void(std::string*)> edit;
    bool whileRead;
  } const changes[] = {
      {"a line more", [](std::string* list) { *list += "zz\tmore\n"; }, false},
      {"a longer explanation", [](std::string* list) { list->replace(list->find("\t"), 1, "\tx"); }, false},
      {"an explanation's byte", [](std::string* list) { (*list)[list->find("\t") + 1] ^= 1; }, false},
      {"a headword's byte", [](std::string* list) { (*list)[0] = 'W'; }, false},
      {"the file removed", nullptr, false},
      {"a line more while read once", [](std::string* list) { *list += "zz\tmore\n"; }, true},
      {"the file removed while read once", nullptr, true},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    TempDir dir;
    const std::wstring path = dir.File(L"w.txt");
    const std::string list = ManyLines();
    WriteBytes(path, list);
    CConvertJob job(dir.Path());
    struct Editor : RecordingObserver {
      std::function<void()> edit;
      bool whileRead = false;
      void OnConvertProgress(int percent) override {
        RecordingObserver::OnConvertProgress(percent);
        if ((whileRead ? percent < 28 : percent == 30) && edit) std::exchange(edit, nullptr)();
      }
    } observer;
    observer.whileRead = change.whileRead;
    observer.edit = [&] {
      if (!change.edit) {
        std::filesystem::remove(lumo_test::FsPath(path));
        return;
      }
      std::string edited = list;
      change.edit(&edited);
      // The same size and time, where the change allows, so that only the content tells.
      const auto time = std::filesystem::last_write_time(lumo_test::FsPath(path));
      WriteBytes(path, edited);
      std::filesystem::last_write_time(lumo_test::FsPath(path), time);
    };
    job.SetWindowSize(1 << 16);
    if (!change.whileRead) job.SetHoldLimit(1);
    EXPECT_FALSE(lumo_test::RunJob(job, path, &observer));
    EXPECT_EQ(job.ReadListAgain(), !change.whileRead);
    EXPECT_EQ(job.Outcome().Kind(), StatusKind::kInputChanged);
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kInputChanged});
    DeleteTempFiles(job.Result());
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) ++files;
    EXPECT_EQ(files, change.edit ? 1u : 0u);
  }
#endif
}

TEST(ConvertJob, CancelWhileReadingWritesNothing) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "a,b\nc,d\n");
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  job.SetObserver(&observer);
  job.SetSource(OpenWordListFile(dir.File(L"w.txt")));
  job.Cancel();  // cleared before the first line
  EXPECT_FALSE(job.Convert());
  EXPECT_EQ(job.Outcome().Kind(), StatusKind::kCancelled);
  EXPECT_TRUE(observer.Warnings().empty());
  EXPECT_FALSE(lumo_test::FileExists(job.Result().temp.data));
}

TEST(ConvertJob, FailuresAreReportedNeverSuccess) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "a,b\n");
  {
    // A word list that could not be opened.
    CConvertJob job(dir.Path());
    RecordingObserver observer;
    EXPECT_FALSE(lumo_test::RunJob(job, dir.File(L"missing.txt"), &observer));
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kInputOpenFailed});
    EXPECT_FALSE(lumo_test::FileExists(job.Result().temp.data));
  }
  {
    // A folder that does not exist: the data file cannot be created.
    CConvertJob job(dir.File(L"no-such-folder"));
    RecordingObserver observer;
    EXPECT_FALSE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kConvertFailed});
    EXPECT_EQ(job.Outcome().Kind(), StatusKind::kWriteFailed);
  }
  // A full disk while the data or the compressed file is written: said as such.
  for (int64_t budget : {0, 20, 40}) {
    std::string list;
    for (int i = 0; i < 50; ++i) list += "w" + std::to_string(i) + ",explanation\n";
    WriteBytes(dir.File(L"w.txt"), list);
    CConvertJob job(dir.Path());
    RecordingObserver observer;
    bool ok;
    {
      lumo_test::DiskFullAfter full(dir.Path(), budget);
      ok = lumo_test::RunJob(job, dir.File(L"w.txt"), &observer);
    }
    EXPECT_FALSE(ok) << budget;
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kDiskFull});
    DeleteTempFiles(job.Result());
  }
}

// Every large allocation of a run failed in turn, on one thread and on two: the run either
// recovers (reading line by line when the whole list does not fit) and makes the very
// package it makes otherwise, or says the list is too big; nothing is left behind.
TEST(ConvertJob, EveryFailingLargeAllocationIsTooBigOrRecovered) {
  TempDir dir;
  std::string list;
  for (int i = 0; i < 20000; ++i) list += "w" + std::to_string(i * 7 % 20011) + "\texplanation " + std::to_string(i) + "\n";
  list += "long\t" + std::string(300000, 'x') + "\n";
  WriteBytes(dir.File(L"w.txt"), list);
  const std::u16string meta = BuildMetadataBlock({L"n", L"", L"", L"", L"d"});
  // Runs the job; the package's bytes, or empty when the run failed.
  const auto convert = [&](unsigned threads, RecordingObserver* observer) {
    CConvertJob job(dir.Path());
    job.SetThreads(threads);
    WordListOptions options;
    options.parallelFrom = 16;
    std::string package;
    if (lumo_test::RunJob(job, dir.File(L"w.txt"), observer, options) &&
        WritePackage(job.Result(), dir.File(L"w.ldic"), meta).ok()) {
      package = ReadBytes(dir.File(L"w.ldic"));
      platform::RemoveFile(dir.File(L"w.ldic"));
    }
    DeleteTempFiles(job.Result());
    return package;
  };

  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    RecordingObserver clean;
    int64_t allocations = 0;
    std::string expected;
    {
      CAllocationFault counting(0);
      expected = convert(threads, &clean);
      allocations = counting.Count();
    }
    ASSERT_FALSE(expected.empty());
    ASSERT_GT(allocations, 3);
    for (int64_t n = 1; n <= allocations; ++n) {
      RecordingObserver observer;
      std::string package;
      {
        CAllocationFault fault(n);
        package = convert(threads, &observer);
      }
      if (package.empty())
        EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kWordListTooBig}) << n;
      else
        EXPECT_TRUE(package == expected) << n;
      size_t files = 0;
      for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) ++files;
      EXPECT_EQ(files, 1u) << "allocation " << n << " left files behind";
    }
  }
}

}  // namespace
