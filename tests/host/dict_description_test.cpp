#include "host/dict_description.h"

#include <gtest/gtest.h>

#include "common/paths.h"
#include "common/utf.h"
#include "platform/file_system.h"
#include "tests/support/host_fixtures.h"

namespace {

using host_test::ListedPath;
using host_test::MetaBytes;
using host_test::PackageBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

DictDescription Described(const std::wstring& path, bool* ok) {
  DictDescription desc;
  desc.Init(path);
  *ok = desc.Describe(path);
  return desc;
}

TEST(DescribeTest, ExtensionsAreComparedWithLetterCase) {
  TempDir dir;
  for (const wchar_t* name : {L"ab英汉.LDICT", L"ab英汉.Ldict", L"pkg.LDIC", L"d.IFO", L"d.txt"}) {
    const std::wstring path = ListedPath(dir, name);
    WriteBytes(path, PackageBytes(3, 40, MetaBytes({u"N=x"})));
    bool ok = true;
    const DictDescription desc = Described(path, &ok);
    EXPECT_FALSE(ok) << WideToUtf8(name);
    EXPECT_EQ(desc.path, path);
    EXPECT_TRUE(desc.name.empty());
    EXPECT_TRUE(desc.checked);
  }
}

struct HostFileCase {
  const wchar_t* name;
  const wchar_t* language;
  int32_t wordCount;
};

TEST(DescribeTest, HostDictionaryFilesTakeLanguageFromTheirName) {
  const HostFileCase cases[] = {
      {L"简明英汉词典.ldict", L"英汉", 1000}, {L"xx汉英.ldict", L"汉英", 1000},
      {L"xx日汉词典.ldict", L"日汉", 0},      {L"英汉.ldict", L"", 0},
      {L"英.ldict", L"", 0},
  };
  TempDir dir;
  for (const HostFileCase& c : cases) {
    const std::wstring path = ListedPath(dir, c.name);
    WriteBytes(path, "12345");
    bool ok = false;
    const DictDescription desc = Described(path, &ok);
    ASSERT_TRUE(ok) << WideToUtf8(c.name);
    EXPECT_EQ(desc.name, PathBaseName(path));
    EXPECT_EQ(desc.language, c.language) << WideToUtf8(c.name);
    EXPECT_EQ(desc.wordCount, c.wordCount) << WideToUtf8(c.name);
    EXPECT_EQ(desc.totalSize, 5);
    EXPECT_EQ(desc.author, L"诺凡公司");
    EXPECT_TRUE(desc.website.starts_with(L"http://"));
    EXPECT_EQ(desc.checksum, 0u);
  }
  bool ok = true;
  Described(ListedPath(dir, L"gone英汉.ldict"), &ok);
  EXPECT_FALSE(ok);
}

TEST(DescribeTest, BareHostFileNameHasNoName) {
  TempDir dir;
  const std::wstring saved = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeDirectory(dir.Path()));
  WriteBytes(dir.File(L"ab英汉.ldict"), "x");
  bool ok = false;
  const DictDescription desc = Described(L"ab英汉.ldict", &ok);
  platform::ChangeDirectory(saved);
  EXPECT_TRUE(ok);
  EXPECT_EQ(desc.name, L"");
  EXPECT_EQ(desc.wordCount, 0);
}

TEST(DescribeTest, AddressesAndPathsThatAreNotRecognised) {
  struct Case {
    const wchar_t* path;
    bool network;
  };
  const Case cases[] = {
      {L"http://dict.example.com/query", true},
      {L"http://dict.example.com", true},  // extension "com"
      {L"HTTP://dict.example.com/query", false},
      {L"https://dict.example.com/query", false},
      {L"http://dict.example.com/words.ifo", false},  // taken for an information file
      {L"C:\\dicts.v2\\words", false},                // extension "v2\words"
  };
  for (const Case& c : cases) {
    bool ok = !c.network;
    const DictDescription desc = Described(c.path, &ok);
    EXPECT_EQ(ok, c.network) << WideToUtf8(c.path);
    if (!c.network) continue;
    EXPECT_EQ(desc.name, L"Lumo网络词典");
    EXPECT_EQ(desc.language, L"英汉/汉英");
    EXPECT_EQ(desc.wordCount, 0);
    EXPECT_EQ(desc.indexSize, 0);
  }
}

TEST(DescribeTest, PackageGivesHeaderNumbersAndName) {
  TempDir dir;
  const std::wstring path = ListedPath(dir, L"p.ldic");
  const std::string bytes = PackageBytes(7, 123, MetaBytes({u"N=我的词典", u"A=me", u"DP=今天"}));
  WriteBytes(path, bytes);
  bool ok = false;
  const DictDescription desc = Described(path, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(desc.name, L"我的词典");
  EXPECT_EQ(desc.wordCount, 7);
  EXPECT_EQ(desc.indexSize, 123);
  EXPECT_EQ(desc.checksum, lumo_test::Le32(bytes, 28));
  EXPECT_NE(desc.checksum, 0u);
  EXPECT_EQ(desc.author, L"");  // only "N" is used
  EXPECT_EQ(desc.totalSize, 0);

  WriteBytes(path, PackageBytes(7, 123, MetaBytes({u"A=me"})));
  EXPECT_TRUE(Described(path, &ok).name.empty());
  EXPECT_TRUE(ok);
}

struct MetaCase {
  const char* label;
  std::vector<std::u16string> items;
  std::map<std::wstring, std::wstring> expected;
};

TEST(ReadPackageInfoTest, MetadataItemsNeedExactlyTwoPieces) {
  const MetaCase cases[] = {
      {"plain", {u"N=名", u"V=1.0"}, {{L"N", L"名"}, {L"V", L"1.0"}}},
      {"nothing_after_equals", {u"N=", u"A=x"}, {{L"A", L"x"}}},
      {"two_equals_between_parts", {u"N=a=b", u"A=x"}, {{L"A", L"x"}}},
      {"doubled_equals_is_one_cut", {u"N==a"}, {{L"N", L"a"}}},
      {"later_pair_replaces", {u"N=a", u"N=b"}, {{L"N", L"b"}}},
      {"empty_items_skipped", {u"", u"N=a", u""}, {{L"N", L"a"}}},
  };
  TempDir dir;
  for (const MetaCase& c : cases) {
    const std::wstring path = dir.File(L"m.ldic");
    WriteBytes(path, PackageBytes(1, 10, MetaBytes(c.items)));
    PackageHeader header;
    std::map<std::wstring, std::wstring> metadata{{L"stale", L"x"}};
    ASSERT_TRUE(ReadPackageInfo(path, &header, &metadata)) << c.label;
    EXPECT_EQ(metadata, c.expected) << c.label;
  }
}

TEST(ReadPackageInfoTest, MetadataBlockLengthLimits) {
  struct Case {
    const char* label;
    std::string file;
    bool ok;
  };
  const std::string block1024 = MetaBytes({u"N=x", std::u16string(508, u'a')});
  ASSERT_EQ(block1024.size(), 1024u);
  std::string shortBlock = PackageBytes(1, 0, MetaBytes({u"N=abc"}));
  shortBlock.resize(shortBlock.size() - 1);
  std::string noBlock = PackageBytes(1, 10, "");
  const Case cases[] = {
      {"exactly_1024", PackageBytes(1, 10, block1024), true},
      {"1025", PackageBytes(1, 10, block1024 + "a"), false},
      {"odd_last_byte_ignored", PackageBytes(1, 10, MetaBytes({u"N=x"}) + "a"), true},
      {"empty_block", noBlock, false},
      {"index_offset_inside_header", std::string(PackageBytes(1, 10, "ab")).replace(8, 4, "\x10\0\0\0", 4), false},
      {"block_cut_short", shortBlock, false},
      {"header_cut_short", PackageBytes(1, 10, MetaBytes({u"N=x"})).substr(0, 31), false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::wstring path = dir.File(L"limit.ldic");
    WriteBytes(path, c.file);
    PackageHeader header;
    std::map<std::wstring, std::wstring> metadata;
    EXPECT_EQ(ReadPackageInfo(path, &header, &metadata), c.ok) << c.label;
    bool described = !c.ok;
    Described(path, &described);
    EXPECT_EQ(described, c.ok) << c.label;
  }
  PackageHeader header;
  std::map<std::wstring, std::wstring> metadata;
  EXPECT_FALSE(ReadPackageInfo(dir.File(L"missing.ldic"), &header, &metadata));
}

TEST(DescribeTest, InformationFiles) {
  bool ok = false;
  const DictDescription real = Described(host_test::FixturePath(L"tabfile-dict.ifo"), &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(real.name, L"简明英汉");
  EXPECT_EQ(real.language, L"英汉");
  EXPECT_EQ(real.wordCount, 4);
  EXPECT_EQ(real.indexSize, 57);
  EXPECT_EQ(real.totalSize, 57 + 83);
  EXPECT_EQ(real.checksum, 0u);

  TempDir dir;
  const std::wstring path = ListedPath(dir, L"one.ifo");
  host_test::WriteStarDict(path,
                           "StarDict's dict ifo file\nversion=2.4.2\nwordcount=2\nidxfilesize=9\n"
                           "bookname=\xE5\xAD\x97\nauthor=\xE6\x88\x91\xFF\n");
  const DictDescription one = Described(path, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(one.name, L"字");
  EXPECT_EQ(one.language, L"");
  EXPECT_EQ(one.author, std::wstring(L"我") + wchar_t(0xFFFD));  // malformed byte replaced
}

}  // namespace
