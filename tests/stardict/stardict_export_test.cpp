// The dictzip writer and the StarDict export, read back with zlib alone: the gzip member
// inflates whole, and each chunk named by the RA field inflates alone to its share.

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "package/chunked_data.h"
#include "package/package_reader.h"
#include "stardict/dictzip.h"
#include "stardict/stardict_export.h"
#include "tests/package/reader_fixtures.h"

namespace {

using lumo_test::Le16;
using lumo_test::Le32;
using lumo_test::TempDir;

std::string Inflate(const std::string& in, int windowBits, size_t limit, int* rc) {
  z_stream z{};
  inflateInit2(&z, windowBits);
  std::string out(limit + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  *rc = inflate(&z, Z_SYNC_FLUSH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// Checks a dictzip file against the data it should hold.
void ExpectDictzipOf(const std::string& dz, const std::string& data) {
  ASSERT_GE(dz.size(), 22u);
  EXPECT_EQ(dz.substr(0, 4), std::string("\x1F\x8B\x08\x04", 4));
  const uint32_t xlen = Le16(dz, 10);
  EXPECT_EQ(dz.substr(12, 2), "RA");
  EXPECT_EQ(Le16(dz, 14), xlen - 4);
  EXPECT_EQ(Le16(dz, 16), 1);  // RA version
  const uint32_t chunkLength = Le16(dz, 18);
  const uint32_t count = Le16(dz, 20);
  EXPECT_EQ(chunkLength, kChunkLength);
  EXPECT_EQ(count, (data.size() + kChunkLength - 1) / kChunkLength);
  ASSERT_EQ(xlen, 10 + 2 * count);

  size_t pos = 12 + xlen;
  for (uint32_t c = 0; c < count; ++c) {
    const uint32_t size = Le16(dz, 22 + 2 * c);
    int rc = 0;
    const std::string piece = Inflate(dz.substr(pos, size), -15, kChunkLength, &rc);
    EXPECT_EQ(rc, Z_OK) << "chunk " << c;  // no chunk ends the stream
    EXPECT_TRUE(piece == data.substr(static_cast<size_t>(c) * kChunkLength, kChunkLength))
        << "chunk " << c;
    pos += size;
  }
  EXPECT_EQ(dz.size(), pos + 2 + 8);
  int rc = 0;
  EXPECT_TRUE(Inflate(dz, 16 + 15, data.size(), &rc) == data);  // as gunzip reads it
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(Le32(dz, dz.size() - 8),
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_EQ(Le32(dz, dz.size() - 4), data.size());
}

class DictzipWriterTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DictzipWriterTest, ChunksInflateAloneAndTheWholeAsGzip) {
  const std::string data = reader_test::Prose(GetParam(), 5);
  TempDir dir;
  CDictzipWriter writer;
  ASSERT_TRUE(writer.Begin(dir.File(L"d.dict.dz"), data.size()));
  // Pieces that do not line up with the chunks.
  for (size_t pos = 0; pos < data.size(); pos += 40000) {
    ASSERT_TRUE(writer.Add(data.data() + pos, std::min<size_t>(40000, data.size() - pos)));
  }
  ASSERT_TRUE(writer.Finish());
  ExpectDictzipOf(lumo_test::ReadBytes(dir.File(L"d.dict.dz")), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DictzipWriterTest,
                         ::testing::Values(0, 1, kChunkLength - 1, kChunkLength, kChunkLength + 1,
                                           3 * kChunkLength + 7));

TEST(DictzipWriter, DataThatDoesNotAddUpFails) {
  TempDir dir;
  CDictzipWriter writer;
  ASSERT_TRUE(writer.Begin(dir.File(L"d.dz"), 10));
  EXPECT_TRUE(writer.Add("12345", 5));
  EXPECT_FALSE(writer.Finish());
  ASSERT_TRUE(writer.Begin(dir.File(L"d.dz"), 3));
  EXPECT_FALSE(writer.Add("12345", 5));
  EXPECT_FALSE(writer.Finish());
  EXPECT_FALSE(writer.Begin(dir.File(L"d.dz"), uint64_t{kChunkLength} * CDictzipWriter::kMaxChunks + 1));
  EXPECT_FALSE(writer.Begin(dir.File(L"no-such-folder") + L"/d.dz", 3));
}

TEST(StarDictExport, FilesDescribeThePackage) {
  TempDir dir;
  const std::string big = reader_test::Prose(80000, 1);
  const std::wstring path = reader_test::MakePackage(
      dir, "bee\tinsect\napple\tred fruit\nApple\tcompany\nlong\t" + big + "\n");
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  ASSERT_EQ(ExportStarDict(reader, dir.Path(), L"words"), StarDictExportResult::kDone);

  const std::string idx = lumo_test::ReadBytes(dir.File(L"words.idx"));
  auto be = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  EXPECT_EQ(idx, std::string("Apple\0", 6) + be(0) + be(7) + std::string("apple\0", 6) + be(7) +
                     be(9) + std::string("bee\0", 4) + be(16) + be(6) +
                     std::string("long\0", 5) + be(22) + be(80000));
  EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"words.ifo")),
            "StarDict's dict ifo file\nversion=2.4.2\nwordcount=4\nidxfilesize=" +
                std::to_string(idx.size()) +
                "\nbookname=Words\nauthor=Me\ndate=2024年1月2日\n"
                "description=Version 1.0; Lumo 42\nsametypesequence=m\n");
  ExpectDictzipOf(lumo_test::ReadBytes(dir.File(L"words.dict.dz")),
                  "companyred fruitinsect" + big);
}

TEST(StarDictExport, DamagedChunkIsReported) {
  TempDir dir;
  std::string bytes = lumo_test::ReadBytes(reader_test::MakePackage(dir, "a\tb\n"));
  const uint32_t dataOffset = Le32(bytes, 16);
  bytes.replace(dataOffset + 6, 3, 3, '\xFF');  // the only chunk
  reader_test::RestampChecksum(&bytes);
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bytes);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(dir.File(L"bad.ldic")));
  EXPECT_EQ(ExportStarDict(reader, dir.Path(), L"bad"), StarDictExportResult::kPackageDamaged);
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"bad.dict.dz")));
  EXPECT_EQ(ExportStarDict(reader, dir.File(L"missing-folder"), L"x"),
            StarDictExportResult::kWriteFailed);
}

}  // namespace
