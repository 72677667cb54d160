// Damaged and hostile packages: each kind of damage gives its own error, and nothing the
// reader then does (reading every explanation, looking words up) goes out of bounds.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "package/package_reader.h"
#include "tests/package/reader_fixtures.h"

namespace {

using lumo_test::Le16;
using lumo_test::Le32;
using lumo_test::TempDir;

void Put16(std::string* b, size_t at, uint32_t v) {
  (*b)[at] = static_cast<char>(v);
  (*b)[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<char>(v >> (8 * i));
}

// Where things are in the base package.
struct Layout {
  uint32_t indexOffset, indexSize, dataOffset, dataSize;
  uint32_t lastRecord;  // start of the last index record ("dog")
  uint32_t chunkTable;  // first chunk size slot
  uint32_t chunk1;      // first byte of chunk 1
  uint32_t trailer;     // the data's CRC-32, then its size
};

Layout Locate(const std::string& b) {
  Layout l{};
  l.indexOffset = Le32(b, 8);
  l.indexSize = Le32(b, 12);
  l.dataOffset = Le32(b, 16);
  l.dataSize = Le32(b, 20);
  l.lastRecord = l.indexOffset + l.indexSize - 12;
  l.chunkTable = l.dataOffset + 4;
  l.chunk1 = l.dataOffset + 4 + 2 * Le16(b, l.dataOffset + 2);
  l.trailer = l.dataOffset + l.dataSize - 8;
  return l;
}

struct Damage {
  const char* name;
  std::function<void(std::string*, const Layout&)> apply;
  PackageError expected;
  bool restamp = true;  // recompute the checksum so only the damage itself shows
};

const Damage kDamages[] = {
    {"header cut short", [](std::string* b, const Layout&) { b->resize(31); },
     PackageError::kTruncatedHeader},
    {"file cut short", [](std::string* b, const Layout&) { b->resize(b->size() - 5); },
     PackageError::kDataOutsideFile},
    {"format version 2", [](std::string* b, const Layout&) { Put16(b, 4, 2); },
     PackageError::kBadFormatVersion},
    {"compressed flag 7", [](std::string* b, const Layout&) { Put16(b, 6, 7); },
     PackageError::kBadCompressedFlag},
    {"metadata end moved",
     [](std::string* b, const Layout& l) { Put32(b, 0, l.indexOffset - 2); },
     PackageError::kMetadataEndMismatch},
    {"index offset inside the header",
     [](std::string* b, const Layout&) { Put32(b, 0, 8); Put32(b, 8, 8); },
     PackageError::kMetadataBadLength},
    {"odd metadata length",
     [](std::string* b, const Layout& l) { Put32(b, 0, l.indexOffset + 1); Put32(b, 8, l.indexOffset + 1); },
     PackageError::kMetadataBadLength},
    {"metadata without separators",
     [](std::string* b, const Layout& l) {
       for (uint32_t i = 32; i < l.indexOffset; i += 2) Put16(b, i, u'Z');
     },
     PackageError::kMetadataMalformed},
    {"metadata without a name first",
     [](std::string* b, const Layout&) { Put16(b, 32, u'Q'); },
     PackageError::kMetadataMalformed},
    {"index size past the end of the file",
     [](std::string* b, const Layout&) { Put32(b, 12, 0xFFFFFFF0u); },
     PackageError::kIndexOutsideFile},
    {"data offset off by one",
     [](std::string* b, const Layout& l) { Put32(b, 16, l.dataOffset + 1); },
     PackageError::kDataOffsetMismatch},
    {"data size past the end of the file",
     [](std::string* b, const Layout& l) { Put32(b, 20, l.dataSize + 1000); },
     PackageError::kDataOutsideFile},
    {"bytes after the data", [](std::string* b, const Layout&) { b->append("junk"); },
     PackageError::kTrailingBytes},
    {"index record without its terminating zero",
     [](std::string* b, const Layout& l) { b->replace(l.lastRecord, 12, 12, 'x'); },
     PackageError::kIndexUnterminated},
    {"index record cut off",
     [](std::string* b, const Layout& l) {
       b->replace(l.lastRecord, 12, 12, 'x');
       (*b)[l.lastRecord + 10] = '\0';
     },
     PackageError::kIndexRecordTruncated},
    {"entry count too high",
     [](std::string* b, const Layout&) { Put32(b, 24, 5); },
     PackageError::kEntryCountMismatch},
    {"explanation size past the data",
     [](std::string* b, const Layout& l) { Put32(b, l.lastRecord + 8, 1000000); },
     PackageError::kEntryOutsideData},
    {"explanation offset past the data",
     [](std::string* b, const Layout& l) { Put32(b, l.lastRecord + 4, 0xFFFFFFF0u); },
     PackageError::kEntryOutsideData},
    {"headwords out of order",
     [](std::string* b, const Layout& l) { (*b)[l.indexOffset] = 'z'; },
     PackageError::kIndexOrder},
    {"overlapping explanations",
     [](std::string* b, const Layout& l) { Put32(b, l.lastRecord + 4, 0); },
     PackageError::kIndexNotContiguous},
    {"data size differs from the explanations",
     [](std::string* b, const Layout& l) { Put32(b, l.trailer + 4, Le32(*b, l.trailer + 4) + 1); },
     PackageError::kDataSizeMismatch},
    {"chunk count beyond the data section",
     [](std::string* b, const Layout& l) { Put16(b, l.dataOffset + 2, 30000); },
     PackageError::kChunkTableTruncated},
    {"chunk length zero",
     [](std::string* b, const Layout& l) { Put16(b, l.dataOffset, 0); },
     PackageError::kBadChunkLength},
    {"chunk length that needs more chunks",
     [](std::string* b, const Layout& l) { Put16(b, l.dataOffset, 1000); },
     PackageError::kChunkCountMismatch},
    {"chunk sizes that do not add up",
     [](std::string* b, const Layout& l) { Put16(b, l.chunkTable, Le16(*b, l.chunkTable) + 1); },
     PackageError::kChunkTableMismatch},
    {"chunk table that lies about the split",
     [](std::string* b, const Layout& l) {
       Put16(b, l.chunkTable, Le16(*b, l.chunkTable) + 3);
       Put16(b, l.chunkTable + 2, Le16(*b, l.chunkTable + 2) - 3);
     },
     PackageError::kChunkCorrupt},
    {"chunk that does not inflate",
     [](std::string* b, const Layout& l) { b->replace(l.chunk1, 8, 8, '\xFF'); },
     PackageError::kChunkCorrupt},
    {"finishing bytes changed",
     [](std::string* b, const Layout& l) { (*b)[l.trailer - 2] = 0x01; },
     PackageError::kBadFinishingBytes},
    {"data CRC-32 changed",
     [](std::string* b, const Layout& l) { Put32(b, l.trailer, Le32(*b, l.trailer) ^ 1); },
     PackageError::kDataCrcMismatch},
    {"checksum changed",
     [](std::string* b, const Layout&) { (*b)[28] ^= 0x40; },
     PackageError::kChecksumMismatch, false},
    {"a byte of an explanation changed",
     [](std::string* b, const Layout& l) { (*b)[l.chunk1 + 20] ^= 0x01; },
     PackageError::kChecksumMismatch, false},
};

class PackageDamageTest : public ::testing::TestWithParam<Damage> {
 protected:
  static void SetUpTestSuite() {
    // Four entries, the third long enough to need a second chunk.
    TempDir dir;
    s_base = new std::string(lumo_test::ReadBytes(reader_test::MakePackage(
        dir, "apple\tred fruit\nbee\tinsect\ncat\t" + reader_test::Prose(70000, 3) +
                 "\ndog\tanimal\n")));
  }
  static void TearDownTestSuite() { delete s_base; }
  static std::string* s_base;
};

std::string* PackageDamageTest::s_base = nullptr;

TEST_P(PackageDamageTest, DetectedWithItsOwnError) {
  const Damage& damage = GetParam();
  std::string bytes = *s_base;
  ASSERT_EQ(Le16(bytes, Locate(bytes).dataOffset + 2), 2) << "the base package needs two chunks";
  damage.apply(&bytes, Locate(bytes));
  if (damage.restamp) reader_test::RestampChecksum(&bytes);
  TempDir dir;
  const std::wstring path = dir.File(L"damaged.ldic");
  lumo_test::WriteBytes(path, bytes);

  const std::vector<PackageProblem> problems = VerifyPackage(path);
  ASSERT_FALSE(problems.empty());
  EXPECT_EQ(problems.front().error, damage.expected)
      << "first problem: " << DescribeProblem(problems.front());

  // Whatever opens must stay safe to use.
  CPackageReader reader;
  if (reader.Open(path) || reader.StructureRead()) {
    std::string text;
    for (size_t i = 0; i < reader.EntryCount(); ++i) {
      reader.ReadExplanation(i, &text);
      reader.Lookup(reader.Headword(i));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackageDamageTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(PackageDamage, EveryTruncationIsRefusedSafely) {
  // Every length from nothing to one byte short of the whole package.
  TempDir dir;
  const std::string whole = lumo_test::ReadBytes(
      reader_test::MakePackage(dir, "apple\tred fruit\nbee\tinsect\n"));
  for (size_t n = 0; n < whole.size(); ++n) {
    lumo_test::WriteBytes(dir.File(L"cut.ldic"), whole.substr(0, n));
    CPackageReader reader;
    EXPECT_FALSE(reader.Open(dir.File(L"cut.ldic"))) << n;
  }
}

TEST(PackageDamage, RandomDamageIsHandledSafely) {
  // Bytes changed at random all over a two-chunk package (a fixed seed): whatever the
  // reader accepts, reading and looking up every entry stays within bounds.
  TempDir dir;
  const std::string whole = lumo_test::ReadBytes(reader_test::MakePackage(
      dir, "apple\tred fruit\nbee\tinsect\ncat\t" + reader_test::Prose(60000, 4) + "\n"));
  uint32_t x = 12345;
  for (int round = 0; round < 400; ++round) {
    std::string bytes = whole;
    for (int k = 0; k <= round % 4; ++k) {
      x = x * 1103515245u + 12345u;
      const size_t at = (x >> 8) % bytes.size();
      bytes[at] = static_cast<char>(bytes[at] ^ (1 + (x >> 24) % 255));
    }
    reader_test::RestampChecksum(&bytes);
    lumo_test::WriteBytes(dir.File(L"r.ldic"), bytes);
    VerifyPackage(dir.File(L"r.ldic"));
    CPackageReader reader;
    if (reader.Open(dir.File(L"r.ldic")) || reader.StructureRead()) {
      std::string text;
      for (size_t i = 0; i < reader.EntryCount(); ++i) {
        reader.ReadExplanation(i, &text);
        reader.Lookup(reader.Headword(i));
      }
    }
  }
}

TEST(PackageDamage, MissingFile) {
  TempDir dir;
  const std::vector<PackageProblem> problems = VerifyPackage(dir.File(L"none.ldic"));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].error, PackageError::kOpenFailed);
}

}  // namespace
