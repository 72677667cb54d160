#include "stardict/stardict_info.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/support/host_fixtures.h"

namespace {

using host_test::WriteStarDict;
using lumo_test::TempDir;

constexpr char kHead242[] = "StarDict's dict ifo file\nversion=2.4.2\n";
constexpr char kHead300[] = "StarDict's dict ifo file\nversion=3.0.0\n";

struct InfoCase {
  const char* label;
  std::string ifo;
  bool loads;
  int32_t wordCount = 0;
  std::string bookName;
};

class InfoFileTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoFileTest, LoadsOnlyTheAcceptedSubset) {
  const InfoCase& c = GetParam();
  TempDir dir;
  const std::wstring path = dir.File(L"d.ifo");
  WriteStarDict(path, c.ifo);
  LumoDict::CStarDictInfoFile info;
  ASSERT_EQ(info.Load(path), c.loads);
  if (!c.loads) return;
  EXPECT_EQ(info.m_wordCount, c.wordCount);
  EXPECT_EQ(info.m_bookName, c.bookName);
}

const std::string kBody = "wordcount=12\nidxfilesize=57\nbookname=Book\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoFileTest,
    ::testing::Values(
        InfoCase{"v242_key_right_after_version", kHead242 + kBody, true, 12, "Book"},
        InfoCase{"v300_bookname_right_after_version",
                 std::string(kHead300) + "bookname=B3\nwordcount=7\nidxfilesize=1\n", true, 7, "B3"},
        InfoCase{"magic_in_capitals", "STARDICT'S DICT IFO FILE\nVERSION=2.4.2\n" + kBody, true, 12,
                 "Book"},
        InfoCase{"other_version", "StarDict's dict ifo file\nversion=2.4.3\n" + kBody, false, 0, ""},
        InfoCase{"tree_dictionary", "StarDict's treedict ifo file\nversion=2.4.2\n" + kBody, false, 0, ""},
        InfoCase{"key_with_capital", std::string(kHead242) + "wordCount=12\nidxfilesize=5\nbookname=B\n",
                 false, 0, ""},
        InfoCase{"crlf_throughout",
                 "StarDict's dict ifo file\r\nversion=2.4.2\r\nwordcount=1\r\nidxfilesize=5\r\nbookname=B\r\n",
                 false, 0, ""},
        InfoCase{"crlf_after_version_keeps_cr_in_text",
                 std::string(kHead242) + "wordcount=9\r\nidxfilesize=5\r\nbookname=B\r\n", true, 9, "B\r"},
        InfoCase{"v300_64bit_offsets", std::string(kHead300) + "idxoffsetbits=64\n" + kBody, false, 0, ""},
        InfoCase{"v300_32bit_offsets", std::string(kHead300) + "idxoffsetbits=32\n" + kBody, true, 12,
                 "Book"},
        InfoCase{"v242_ignores_offset_bits", std::string(kHead242) + "idxoffsetbits=64\n" + kBody, true,
                 12, "Book"},
        InfoCase{"first_of_two_keys_counts",
                 std::string(kHead242) + "bookname=One\n" + kBody, true, 12, "One"},
        InfoCase{"last_line_without_line_feed",
                 std::string(kHead242) + "wordcount=3\nidxfilesize=5\nbookname=Tail", true, 3, "Tail"},
        InfoCase{"wordcount_without_digits", std::string(kHead242) + "wordcount=x\nidxfilesize=5\nbookname=B",
                 true, 0, "B"},
        InfoCase{"wordcount_beyond_range",
                 std::string(kHead242) + "wordcount= 99999999999\nidxfilesize=5\nbookname=B", true,
                 INT32_MAX, "B"},
        InfoCase{"nul_byte_hides_later_keys",
                 std::string(kHead242) + "wordcount=3\nidxfilesize=5\n" + std::string(1, '\0') +
                     "\nbookname=B\n",
                 false, 0, ""},
        InfoCase{"missing_idxfilesize", std::string(kHead242) + "wordcount=3\nbookname=B\n", false, 0, ""},
        InfoCase{"missing_bookname", std::string(kHead242) + "wordcount=3\nidxfilesize=5\n", false, 0, ""}),
    [](const ::testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.label); });

TEST(InfoFileCompanions, DataFileChoiceAndMissingIndex) {
  TempDir dir;
  const std::string ifo = kHead242 + kBody;
  LumoDict::CStarDictInfoFile info;

  // Only the compressed data file: its size counts.
  WriteStarDict(dir.File(L"dz.ifo"), ifo, 57, 0);
  lumo_test::WriteBytes(dir.File(L"dz.dict.dz"), std::string(30, 'z'));
  ASSERT_TRUE(info.Load(dir.File(L"dz.ifo")));
  EXPECT_EQ(info.m_totalFileSize, 57u + 30u);
  EXPECT_EQ(info.m_synWordCount, 0);

  // Both data files: the uncompressed one counts.
  WriteStarDict(dir.File(L"both.ifo"), ifo, 57, 100);
  lumo_test::WriteBytes(dir.File(L"both.dict.dz"), std::string(30, 'z'));
  ASSERT_TRUE(info.Load(dir.File(L"both.ifo")));
  EXPECT_EQ(info.m_totalFileSize, 57u + 100u);

  // No data file at all, or no index: the dictionary is not usable.
  WriteStarDict(dir.File(L"nodata.ifo"), ifo, 57, 0);
  EXPECT_FALSE(info.Load(dir.File(L"nodata.ifo")));
  lumo_test::WriteBytes(dir.File(L"noidx.ifo"), ifo);
  lumo_test::WriteBytes(dir.File(L"noidx.dict"), "d");
  EXPECT_FALSE(info.Load(dir.File(L"noidx.ifo")));
}

// The fixture was made by Debian's stardict-tools: tabfile from a four-line TAB file
// named 简明英汉.txt (see fixtures/README.md).
TEST(InfoFileCompanions, LoadsADictionaryMadeByStarDictTools) {
  LumoDict::CStarDictInfoFile info;
  ASSERT_TRUE(info.Load(host_test::FixturePath(L"tabfile-dict.ifo")));
  EXPECT_EQ(info.m_wordCount, 4);
  EXPECT_EQ(info.m_idxFileSize, 57);
  EXPECT_EQ(info.m_bookName, "简明英汉");
  EXPECT_EQ(info.m_sameTypeSequence, "m");
  EXPECT_EQ(info.m_synWordCount, 0);
  EXPECT_EQ(info.m_totalFileSize, 57u + 83u);  // .idx and .dict.dz
}

}  // namespace
