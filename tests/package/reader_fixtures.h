#pragma once
// Packages for the reader's tests, made by the real conversion pipeline.

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "core/convert_job.h"
#include "package/chunked_data.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "tests/support/test_support.h"

namespace reader_test {

inline const PackageFacts kFacts{L"Words", L"Me", L"42", L"1.0", L"2024年1月2日"};

// The product of a run without entries, as the package format allows though the job
// refuses to make one: empty temporary files in dir, the data one compressed.
inline ConvertResult EmptyConvertResult(const lumo_test::TempDir& dir) {
  ConvertResult result;
  result.temp.folder = dir.Path();
  platform::CBinaryFile data, compressed;
  EXPECT_TRUE(ClaimTempFiles(&result.temp, true, &data, &compressed).ok());
  EXPECT_TRUE(data.Close().ok());
  EXPECT_TRUE(CompressDataFile(result.temp.data, &compressed).ok());
  result.compressedSize = static_cast<uint32_t>(lumo_test::ReadBytes(result.temp.compressed).size());
  return result;
}

// Writes the package of EmptyConvertResult at dir/name; returns its path.
inline std::wstring MakeEmptyPackage(const lumo_test::TempDir& dir, const PackageFacts& facts = kFacts,
                                     const std::wstring& name = L"w.ldic") {
  ConvertResult empty = EmptyConvertResult(dir);
  EXPECT_TRUE(WritePackage(empty, dir.File(name), BuildMetadataBlock(facts)).ok());
  DeleteTempFiles(empty);
  return dir.File(name);
}

// Converts list (word-list bytes) into the package dir/name; returns the package's path.
inline std::wstring MakePackage(const lumo_test::TempDir& dir, const std::string& list,
                                const PackageFacts& facts = kFacts,
                                const std::wstring& name = L"w.ldic") {
  const std::wstring listPath = dir.File(name + L".txt");
  lumo_test::WriteBytes(listPath, list);
  CConvertJob job(dir.Path());
  lumo_test::RecordingObserver observer;
  EXPECT_TRUE(lumo_test::RunJob(job, listPath, &observer));
  EXPECT_TRUE(WritePackage(job.Result(), dir.File(name), BuildMetadataBlock(facts)).ok());
  DeleteTempFiles(job.Result());
  return dir.File(name);
}

// Recomputes the header's checksum, so that a damaged package fails only where it was
// damaged.
inline void RestampChecksum(std::string* bytes) {
  if (bytes->size() < 32) return;
  bytes->replace(28, 4, 4, '\0');
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes->data()),
                          static_cast<uInt>(bytes->size()));
  for (int i = 0; i < 4; ++i) (*bytes)[28 + i] = static_cast<char>(crc >> (8 * i));
}

// Deterministic text of n letters and spaces that deflates moderately.
inline std::string Prose(size_t n, uint32_t seed) {
  std::string s;
  s.reserve(n);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s.push_back((x >> 16) % 7 == 0 ? ' ' : static_cast<char>('a' + (x >> 16) % 26));
  }
  if (!s.empty()) s.front() = s.back() = 'x';  // no blanks at the ends
  return s;
}

}  // namespace reader_test
