// The conversion job end to end on real files: reading, accounting, the data file, the
// compressed file, progress, cancel and every failure the user is told of.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "common/memory_fault.h"
#include "common/utf.h"
#include "core/convert_job.h"
#include "package/format.h"
#include "package/index_order.h"
#include "package/package_writer.h"
#include "textio/line_parse.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/text_convert.h"
#include "tests/support/test_support.h"
#include "textio/text_file.h"

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
  job.OpenInput(dir.File(L"w.txt"));
  job.Start();
  std::thread worker(ConvertThreadProc, &job);
  worker.join();

  EXPECT_EQ(observer.DoneCount(), 1);
  EXPECT_TRUE(observer.DoneSuccess());
  EXPECT_EQ(observer.Progress(), (std::vector<int>{30, 50, 80}));
  EXPECT_TRUE(observer.Warnings().empty());
  EXPECT_TRUE(job.Outcome().ok());

  // ",orphan" has no headword and is dropped; "empty\t" keeps an empty explanation.
  ASSERT_EQ(job.Result().entries.size(), 3u);
  EXPECT_EQ(job.Result().entries[0].word, "apple");
  EXPECT_EQ(job.Result().entries[1].word, "bee");
  EXPECT_EQ(job.Result().entries[2].word, "empty");
  EXPECT_EQ(job.Result().entries[1].offset, 9u);
  EXPECT_EQ(job.Result().entries[2].offset, 15u);
  EXPECT_EQ(job.Result().entries[2].size, 0u);
  EXPECT_EQ(job.Result().indexSize, (5 + 9) + (3 + 9) + (5 + 9u));
  EXPECT_EQ(job.Result().dataSize, 15u);
  EXPECT_EQ(ReadBytes(job.Result().temp.data), "red fruitinsect");
  EXPECT_EQ(ReadBytes(job.Result().temp.compressed).size(), job.Result().compressedSize);
  EXPECT_EQ(job.Result().temp.data, dir.File(L"LumoDictTemp.des"));
  EXPECT_EQ(job.Result().temp.compressed, dir.File(L"LumoDictTemp.des.dz"));
}

TEST(ConvertJob, EmptyWordListGivesAnEmptyDictionary) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "no separator\n\n");
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  EXPECT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
  EXPECT_TRUE(job.Result().entries.empty());
  EXPECT_EQ(job.Result().indexSize, 0u);
  EXPECT_EQ(job.Result().dataSize, 0u);
  EXPECT_EQ(ReadBytes(job.Result().temp.data), "");
  EXPECT_EQ(ReadBytes(job.Result().temp.compressed), std::string("\xCB\xE3\0\0\x03\0\0\0\0\0\0\0\0\0", 14));
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
  ASSERT_EQ(job.Result().entries.size(), 2u);
  EXPECT_EQ(job.Result().entries[0].word, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(job.Result().entries[1].word, "\xF0\x9F\x98\x80");  // sorts by code point
  EXPECT_EQ(job.Result().entries[0].explanation, "\xC3\xA9t\xC3\xA9 \xD0\x96");
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
  ASSERT_EQ(job.Result().entries.size(), 2u);
  EXPECT_EQ(job.Result().entries[1].word, "\xE4\xB8\xAD\xE6\x96\x87");  // two characters, 6 bytes
  EXPECT_EQ(job.Result().indexSize, (5 + 9) + (6 + 9u));
#ifndef _WIN32
  unsetenv("LC_ALL");
#endif
}

// A UTF-8 list of a few megabytes (over 100,000 lines) is read whole and parsed by one or
// two threads: both give exactly the entries of reading it line by line, in the same
// order, and the same data files. So do the same list's UTF-16 forms, converted whole.
TEST(ConvertJob, WholeListReadingMatchesLineByLine) {
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
    list += breaks[random() % std::size(breaks)];
  }

  // The reference: the file reader's lines, split, trimmed and stably sorted.
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), list);
  std::vector<std::string> texts;
  {
    platform::CFile file;
    ASSERT_TRUE(file.Open(dir.File(L"w.txt")));
    CTextFileRead reader(&file);
    std::string line;
    while (!reader.IsEndOfFile() && reader.ReadLine(line)) {
      LineFields fields;
      if (!SplitLine(line, &fields) || fields.first.empty()) continue;
      texts.emplace_back(TrimFieldChars(fields.first));
      texts.emplace_back(TrimFieldChars(fields.second));
    }
  }
  std::vector<DictEntry> expected;
  for (size_t i = 0; i < texts.size(); i += 2) expected.push_back({texts[i], texts[i + 1], 0, 0});
  std::stable_sort(expected.begin(), expected.end(), EntryLess);

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

  std::string firstData;
  for (const wchar_t* name : {L"w.txt", L"w16le.txt", L"w16be.txt"}) {
    for (unsigned threads : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << "threads " << threads);
      TempDir work;
      CConvertJob job(work.Path());
      job.SetThreads(threads);
      job.OpenInput(dir.File(name));
      job.Start();
      ASSERT_TRUE(job.Convert());
      ASSERT_EQ(job.Result().entries.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(job.Result().entries[i].word, expected[i].word) << "at " << i;
        ASSERT_EQ(job.Result().entries[i].explanation, expected[i].explanation) << "at " << i;
      }
      const std::string data = ReadBytes(job.Result().temp.data) + ReadBytes(job.Result().temp.compressed);
      if (firstData.empty()) firstData = data;
      EXPECT_EQ(data, firstData);
      DeleteTempFiles(job.Result());
    }
  }
}

TEST(ConvertJob, CancelWhileReadingWritesNothing) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "a,b\nc,d\n");
  CConvertJob job(dir.Path());
  RecordingObserver observer;
  job.SetObserver(&observer);
  job.OpenInput(dir.File(L"w.txt"));
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
    job.SetParallelParseFrom(16);
    std::string package;
    if (lumo_test::RunJob(job, dir.File(L"w.txt"), observer) &&
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
