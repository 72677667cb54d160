// The dictzip writer and the StarDict export, read back with zlib alone: the gzip member
// inflates whole, and each chunk named by the RA field inflates alone to its share.

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "package/chunked_data.h"
#include "package/package_reader.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
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
  ASSERT_EQ(ExportStarDict(reader, dir.Path(), L"words").result, StarDictExportResult::kDone);

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

// The files of a folder and their bytes; a folder inside is listed as "name/".
std::map<std::wstring, std::string> Contents(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(folder))) {
    const std::wstring name = lumo_test::WidePath(entry.path().filename());
    if (entry.is_directory())
      files[name + L"/"] = "";
    else
      files[name] = lumo_test::ReadBytes(folder + platform::kPathSeparator + name);
  }
  return files;
}

// Whatever the target folder is (missing, an earlier export alone, an earlier export
// among the user's files, beside and holding leftovers of killed exports), the export
// puts exactly the new three files there, keeps everything of the user's, and leaves
// nothing of its own beside or inside; a work folder in use, or holding a file not ours,
// is left alone.
TEST(StarDictExport, SwapsInTheWholeExportAndKeepsTheUsersFiles) {
  TempDir dir;
  const std::wstring path = reader_test::MakePackage(dir, "apple\tred fruit\nbee\tinsect\n");
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(path));
  std::map<std::wstring, std::string> fresh;
  {
    TempDir clean;
    ASSERT_EQ(ExportStarDict(reader, clean.File(L"sd"), L"w").result, StarDictExportResult::kDone);
    fresh = Contents(clean.File(L"sd"));
    ASSERT_EQ(fresh.size(), 3u);
    EXPECT_EQ(Contents(clean.Path()).size(), 1u);  // sd itself, nothing beside it
  }
  const std::map<std::wstring, std::string> earlier = {
      {L"w.dict.dz", "old data"}, {L"w.idx", "old index"}, {L"w.ifo", "old ifo"}};
  struct Case {
    const char* label;
    std::map<std::wstring, std::string> inside;  // "x/" is a folder
    std::map<std::wstring, std::string> beside;
    std::map<std::wstring, std::string> kept;    // what must stay beside, besides sd
  };
  const Case cases[] = {
      {"an earlier export alone", earlier, {}, {}},
      {"an empty folder", {}, {}, {}},
      {"the user's files too", {{L"w.ifo", "old"}, {L"notes.txt", "mine"}, {L"res/", ""}}, {}, {}},
      {"leftovers of killed exports",
       earlier,
       {{L"sd.lumo-new/", ""}, {L"sd.lumo-new/w.ifo", "half"}, {L"sd.lumo-new-2/", ""},
        {L"sd.lumo-new-3/", ""}, {L"sd.lumo-new-3/mine.txt", "not ours"}},
       {{L"sd.lumo-new-3/", ""}}},
      {"a leftover inside",
       {{L"other.txt", "x"}, {L"w.lumo-new/", ""}, {L"w.lumo-new/w.idx", "half"}}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir out;
    const std::wstring sd = out.File(L"sd");
    std::filesystem::create_directory(lumo_test::FsPath(sd));
    const auto lay = [](const std::wstring& folder, const std::map<std::wstring, std::string>& files) {
      for (const auto& [name, bytes] : files) {
        const std::wstring at = folder + platform::kPathSeparator + name;
        if (name.ends_with(L"/"))
          std::filesystem::create_directory(lumo_test::FsPath(at.substr(0, at.size() - 1)));
        else
          lumo_test::WriteBytes(at, bytes);
      }
    };
    lay(sd, c.inside);
    lay(out.Path(), c.beside);
    ASSERT_EQ(ExportStarDict(reader, sd, L"w").result, StarDictExportResult::kDone);
    std::map<std::wstring, std::string> expected = fresh;
    for (const auto& [name, bytes] : c.inside) {
      const size_t slash = name.find(L'/');
      if (!name.starts_with(L"w.") && (slash == std::wstring::npos || slash + 1 == name.size()))
        expected[name] = bytes;
    }
    EXPECT_EQ(Contents(sd), expected);
    std::map<std::wstring, std::string> besides = c.kept;
    besides[L"sd/"] = "";
    EXPECT_EQ(Contents(out.Path()), besides);
  }

  // A work folder that another export holds is not touched.
  TempDir out;
  const std::wstring busy = out.File(L"sd.lumo-new");
  std::filesystem::create_directory(lumo_test::FsPath(busy));
  lumo_test::WriteBytes(busy + platform::kPathSeparator + L"w.idx", "in use");
  platform::CFolderLock claim;
  ASSERT_TRUE(claim.TryLock(busy));
  StarDictExportResult result;
  // Another thread, as a mutex held by this one would let it in again on Windows.
  std::thread([&] { result = ExportStarDict(reader, out.File(L"sd"), L"w").result; }).join();
  EXPECT_EQ(result, StarDictExportResult::kDone);
  EXPECT_EQ(lumo_test::ReadBytes(busy + platform::kPathSeparator + L"w.idx"), "in use");
  EXPECT_EQ(Contents(out.File(L"sd")), fresh);
}

// A damaged package is refused with the folder as it was; with force the export leaves
// out the entries that cannot be read and says which. Stopping leaves the folder as it
// was, and so does a missing parent.
TEST(StarDictExport, DamageStopAndMissingParentLeaveTheFolderAsItWas) {
  TempDir dir;
  std::string bytes = lumo_test::ReadBytes(reader_test::MakePackage(
      dir, "a\tb\nlong\t" + reader_test::Prose(70000, 2) + "\nz\tlast\n"));
  const uint32_t dataOffset = Le32(bytes, 16);
  const uint32_t chunk2 = dataOffset + 4 + 2 * 2 + Le16(bytes, dataOffset + 4);
  bytes.replace(chunk2 + 6, 3, 3, '\xFF');  // the second of two chunks
  reader_test::RestampChecksum(&bytes);
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bytes);
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(dir.File(L"bad.ldic")));

  TempDir out;
  const std::wstring sd = out.File(L"sd");
  std::filesystem::create_directory(lumo_test::FsPath(sd));
  lumo_test::WriteBytes(sd + platform::kPathSeparator + L"bad.ifo", "earlier");
  const std::map<std::wstring, std::string> before = Contents(out.Path());
  EXPECT_EQ(ExportStarDict(reader, sd, L"bad").result, StarDictExportResult::kPackageDamaged);
  EXPECT_EQ(Contents(out.Path()), before);
  StarDictExportOptions stop;
  stop.stopRequested = [] { return true; };
  EXPECT_EQ(ExportStarDict(reader, sd, L"bad", stop).result, StarDictExportResult::kStopped);
  EXPECT_EQ(Contents(out.Path()), before);
  EXPECT_EQ(Contents(sd).size(), 1u);
  EXPECT_EQ(ExportStarDict(reader, out.File(L"none") + platform::kPathSeparator + L"sd", L"x").result,
            StarDictExportResult::kWriteFailed);
  EXPECT_EQ(Contents(out.Path()), before);

  StarDictExportOptions force;
  force.force = true;
  const StarDictExportOutcome forced = ExportStarDict(reader, sd, L"bad", force);
  ASSERT_EQ(forced.result, StarDictExportResult::kDone);
  EXPECT_EQ(forced.leftOut, (std::vector<size_t>{1, 2}));  // "long" reaches into chunk 2, "z" lies in it
  const std::string idx = lumo_test::ReadBytes(sd + platform::kPathSeparator + L"bad.idx");
  EXPECT_EQ(idx, std::string("a\0\0\0\0\0\0\0\0\x01", 10));
  EXPECT_NE(lumo_test::ReadBytes(sd + platform::kPathSeparator + L"bad.ifo").find("wordcount=1\n"),
            std::string::npos);
}

}  // namespace
