// The package, byte for byte: header, metadata block, index, data section and checksum,
// and what happens to the file at the save path when writing fails.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "core/convert_job.h"
#include "package/format.h"
#include "package/package_reader.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "tests/package/reader_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::Le16;
using lumo_test::Le32;
using lumo_test::ReadBytes;
using lumo_test::RecordingObserver;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

std::string Utf16Le(std::u16string_view s) {
  std::string out;
  for (char16_t u : s) out += std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return out;
}

uint32_t CrcWithZeroField(std::string bytes) {
  bytes.replace(28, 4, 4, '\0');
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Converts list in dir and writes the package; returns its bytes.
// Converts list in dir with the given compression threads and writes the package.
std::string ConvertWithThreads(const TempDir& dir, const std::string& list, const PackageFacts& facts,
                               unsigned threads, std::vector<int>* progress = nullptr) {
  WriteBytes(dir.File(L"w.txt"), list);
  CConvertJob job(dir.Path());
  job.SetThreads(threads);
  RecordingObserver observer;
  EXPECT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));
  std::vector<int> steps;
  EXPECT_TRUE(WritePackage(job.Result(), dir.File(L"w.ldic"), BuildMetadataBlock(facts),
                           [&steps](int p) { steps.push_back(p); })
                  .ok());
  if (progress) *progress = steps;
  // Every package the pipeline writes passes the reader's complete check.
  for (const PackageProblem& problem : VerifyPackage(dir.File(L"w.ldic")))
    ADD_FAILURE() << DescribeProblem(problem);
  EXPECT_TRUE(DeleteTempFiles(job.Result()));
  EXPECT_FALSE(lumo_test::FileExists(job.Result().temp.data));
  EXPECT_FALSE(lumo_test::FileExists(job.Result().temp.compressed));
  return ReadBytes(dir.File(L"w.ldic"));
}

// Converts list in dir and writes the package; returns its bytes, which every thread
// count must give alike.
std::string Convert(const TempDir& dir, const std::string& list, const PackageFacts& facts,
                    std::vector<int>* progress = nullptr) {
  const std::string package = ConvertWithThreads(dir, list, facts, 0, progress);
  for (unsigned threads : {1u, 3u})
    EXPECT_EQ(ConvertWithThreads(dir, list, facts, threads), package) << threads << " threads";
  return package;
}

TEST(Metadata, ItemsInOrderEmptyOnesLeftOut) {
  EXPECT_EQ(BuildMetadataBlock({L"Ab", L"C", L"", L"", L"2010年1月2日"}),
            std::u16string(u"N=Ab\0A=C\0DP=2010年1月2日", 21));
  EXPECT_EQ(BuildMetadataBlock({L"n", L"a", L"123", L"1.0", L"d"}),
            std::u16string(u"N=n\0A=a\0Lumo=123\0V=1.0\0DP=d", 27));
  // Blank values are kept as typed.
  EXPECT_EQ(BuildMetadataBlock({L"  ", L" ", L"", L"", L"d"}),
            std::u16string(u"N=  \0A= \0DP=d", 13));
}

TEST(PackageWriter, TwoEntriesByteForByte) {
  TempDir dir;
  std::vector<int> progress;
  const std::string pkg = Convert(dir, "bee,insect\napple,red fruit", {L"Words", L"", L"", L"", L"D"}, &progress);
  EXPECT_EQ(progress, (std::vector<int>{85, 90, 97, 100}));

  const std::u16string meta(u"N=Words\0DP=D", 12);
  const uint32_t indexOffset = 32 + 2 * 12;
  EXPECT_EQ(Le32(pkg, 0), indexOffset);
  EXPECT_EQ(Le16(pkg, 4), 1);
  EXPECT_EQ(Le16(pkg, 6), 1);
  EXPECT_EQ(Le32(pkg, 8), indexOffset);
  EXPECT_EQ(Le32(pkg, 12), 26u);
  EXPECT_EQ(Le32(pkg, 16), indexOffset + 26);
  EXPECT_EQ(Le32(pkg, 24), 2u);
  EXPECT_EQ(pkg.substr(32, 24), Utf16Le(meta));
  EXPECT_EQ(pkg.substr(indexOffset, 26),
            std::string("apple\0\0\0\0\0\x09\0\0\0bee\0\x09\0\0\0\x06\0\0\0", 26));
  EXPECT_EQ(pkg.size(), Le32(pkg, 16) + Le32(pkg, 20));
  EXPECT_EQ(Le32(pkg, 28), CrcWithZeroField(pkg));

  // The data section is the compressed layout: one chunk that inflates to the data.
  const std::string data = pkg.substr(Le32(pkg, 16));
  EXPECT_EQ(Le16(data, 0), 58315);
  EXPECT_EQ(Le16(data, 2), 1);
  std::string inflated(64, '\0');
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()) + 6);
  z.avail_in = Le16(data, 4);
  z.next_out = reinterpret_cast<Bytef*>(inflated.data());
  z.avail_out = static_cast<uInt>(inflated.size());
  inflate(&z, Z_SYNC_FLUSH);
  inflated.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(inflated, "red fruitinsect");
}

TEST(PackageWriter, EmptyDictionary) {
  TempDir dir;
  const std::string pkg =
      ReadBytes(reader_test::MakeEmptyPackage(dir, {L"Words", L"", L"", L"", L""}));
  EXPECT_EQ(Le32(pkg, 8), 32u + 2 * 11);  // "N=Words", U+0000, "DP="
  EXPECT_EQ(Le32(pkg, 12), 0u);
  EXPECT_EQ(Le32(pkg, 16), Le32(pkg, 8));
  EXPECT_EQ(Le32(pkg, 20), 14u);
  EXPECT_EQ(Le32(pkg, 24), 0u);
  EXPECT_EQ(pkg.size(), Le32(pkg, 16) + 14u);
}

TEST(PackageWriter, SameInputSamePackage) {
  std::string list;
  for (int i = 0; i < 70000; ++i)
    list += "w" + std::to_string(i * 7919 % 3001) + (i % 3 ? ",x" : "\tsame") + std::to_string(i) + "\n";
  list += "dup,1\ndup,2\nDUP,3\n";
  TempDir a, b;
  const PackageFacts facts{L"名称", L"作者", L"", L"2", L"2026年12月7日"};
  const std::string first = Convert(a, list, facts);
  EXPECT_EQ(first, Convert(b, list, facts));
  EXPECT_GE(Le16(first, Le32(first, 16) + 2), 3);  // several chunks of data
}

TEST(PackageWriter, FailuresLeaveNoPartialPackage) {
  TempDir dir;
  WriteBytes(dir.File(L"w.txt"), "apple,red fruit\n");
  const std::wstring target = dir.File(L"w.ldic");
  const std::u16string meta = BuildMetadataBlock({L"n", L"", L"", L"", L"d"});

  CConvertJob job(dir.Path());
  RecordingObserver observer;
  ASSERT_TRUE(lumo_test::RunJob(job, dir.File(L"w.txt"), &observer));

  // Disk full at several points: the earlier file at the path stays as it was.
  for (int64_t budget : {0, 10, 40, 60}) {
    WriteBytes(target, "earlier");
    Status result;
    {
      lumo_test::DiskFullAfter full(dir.Path(), budget);
      result = WritePackage(job.Result(), target, meta);
    }
    EXPECT_EQ(result.Kind(), StatusKind::kWriteFailed) << budget;
    // The failure names the package, with the system's reason for a full disk.
    EXPECT_EQ(result.Path(), target) << budget;
    EXPECT_EQ(result.Reason(), std::strerror(ENOSPC)) << budget;
    EXPECT_EQ(ReadBytes(target), "earlier");
    EXPECT_FALSE(lumo_test::FileExists(target + L".part"));
  }
  // A folder that does not exist.
  const Status nowhere = WritePackage(job.Result(), dir.File(L"nowhere") + L"/x.ldic", meta);
  EXPECT_EQ(nowhere.Kind(), StatusKind::kPackageCreateFailed);
  EXPECT_EQ(nowhere.Path(), dir.File(L"nowhere") + L"/x.ldic");
  EXPECT_FALSE(nowhere.Reason().empty());

  // The compressed data file is gone: no package at all.
  ASSERT_TRUE(DeleteTempFiles(job.Result()));
  EXPECT_TRUE(DeleteTempFiles(job.Result()));  // nothing left to delete counts as deleted
  EXPECT_EQ(WritePackage(job.Result(), target, meta).Kind(), StatusKind::kTempFileMissing);
  EXPECT_EQ(ReadBytes(target), "earlier");
}

}  // namespace
