// ldic convert with an MDict dictionary as its input: each sample dictionary's package
// holds the entries an independent reader found in it, made text by the same rules; the
// entries that cannot be converted are reported by their numbers; refusals make no package.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/utf.h"
#include "package/package_reader.h"
#include "tests/cli/ldic_in_process.h"
#include "tests/mdict/mdict_samples.h"
#include "tests/mdict/mdict_writer.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"
#include "textio/markup_text.h"

namespace {

using lumo_test::TempDir;
using Entries = std::vector<std::pair<std::string, std::string>>;

using cli_test::Ldic;
using cli_test::Result;

std::string U8(const std::wstring& path) { return WideToUtf8(path); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every entry of a package, sorted.
Entries PackageEntries(const std::wstring& path) {
  Entries entries;
  CPackageReader reader;
  EXPECT_TRUE(reader.Open(path)) << U8(path);
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    std::string explanation;
    EXPECT_EQ(reader.ReadExplanation(i, &explanation), PackageError::kNone);
    entries.emplace_back(reader.Headword(i), explanation);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST(MdictInput, EverySampleConvertsToTheEntriesFoundInIt) {
  const struct {
    const wchar_t* name;
    const char* title;
    bool resources;
  } samples[] = {
      {L"v1_2_zlib", "Oracle 1.2 zlib", false},
      {L"v2_gbk", "Oracle GBK 词典", false},
      {L"v2_keyinfo_encrypted", "Oracle Encrypted=2", false},
      {L"v2_lzo", "Oracle 2.0 LZO", false},
      {L"v2_utf8_html", "Oracle UTF-8 «Html» & \"quotes\"", true},
  };
  TempDir dir;
  for (const auto& sample : samples) {
    SCOPED_TRACE(U8(sample.name));
    // The records are HTML: each explanation is its text.
    Entries expected, kept;
    for (const mdict_test::Entry& e : mdict_test::SampleEntries(sample.name)) {
      expected.emplace_back(e.key, MarkupToText(e.record));
      kept.emplace_back(e.key, e.record);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(kept.begin(), kept.end());
    ASSERT_FALSE(expected.empty());

    const std::wstring mdx = host_test::FixturePath(L"mdict/" + std::wstring(sample.name) + L".mdx");
    const std::wstring package = dir.File(std::wstring(sample.name) + L".ldic");
    const Result r = Ldic({"convert", U8(mdx), "-o", U8(package), "--report", U8(dir.File(L"r.tsv"))});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, ": " + std::to_string(expected.size()) + " entries")) << r.out;
    EXPECT_TRUE(Has(r.err, "entries read: " + std::to_string(expected.size()))) << r.err;
    EXPECT_EQ(Has(r.err, "resources left out"), sample.resources) << r.err;
    EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"r.tsv")), "line\treason\ttext\n");
    EXPECT_EQ(PackageEntries(package), expected);
    CPackageReader reader;
    ASSERT_TRUE(reader.Open(package));
    EXPECT_EQ(reader.MetadataValue("N"), sample.title);
    EXPECT_EQ(reader.MetadataValue("A"), "");

    // Named by --from whatever its extension, its HTML kept as stored.
    const std::wstring renamed = dir.File(L"dictionary.bin");
    lumo_test::WriteBytes(renamed, lumo_test::ReadBytes(mdx));
    ASSERT_EQ(Ldic({"convert", U8(renamed), "--from", "mdict", "--keep-markup", "-q"}).status, 0);
    EXPECT_EQ(PackageEntries(dir.File(L"dictionary.ldic")), kept);
  }
}

// Links, a style sheet, an empty key, a damaged record block and links that lead nowhere:
// what converts, what the summary and the report say (by number, in the file's order),
// and --strict.
TEST(MdictInput, EntriesThatCannotBeConvertedAreReportedByNumber) {
  mdict_test::Dictionary d;
  d.styleSheet = "1\n<b>\n</b>\n";
  d.recordBlockBytes = 1;  // a block for each record
  d.entries = {{"apple", "`1`red`2` fruit<br>round"},  // 1
               {"Apple", "@@@LINK=apple"},              // 2: the same key in another case
               {"loop", "@@@LINK=round"},               // 3
               {"round", "@@@LINK=loop"},               // 4
               {"", "no headword"},                     // 5
               {"bee", "insect"},                       // 6: its block damaged
               {"fruit", "@@@LINK=APPLE"},              // 7: a link to a link, by case
               {"ghost", "@@@LINK=nothing"},            // 8
               {"sting", "@@@LINK=bee"}};               // 9: leads into the damage
  mdict_test::Layout layout;
  std::string bytes = mdict_test::WriteMdict(d, &layout);
  ASSERT_EQ(layout.recordBlocks.size(), d.entries.size());
  bytes[layout.recordBlocks[5] + 8] ^= 0x55;  // bee's data: its checksum fails
  TempDir dir;
  const std::wstring mdx = dir.File(L"d.mdx");
  lumo_test::WriteBytes(mdx, bytes);
  lumo_test::WriteBytes(dir.File(L"d.mdd"), "resources");

  const Result r = Ldic({"convert", U8(mdx), "--report", U8(dir.File(L"report.tsv"))});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "entries read: 9\nentries: 3\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "unreadable: 2 (entry 6, 9)")) << r.err;
  EXPECT_TRUE(Has(r.err, "empty headword: 1 (entry 5)")) << r.err;
  EXPECT_TRUE(Has(r.err, "link loop: 2 (entry 3, 4)")) << r.err;
  EXPECT_TRUE(Has(r.err, "link target missing: 1 (entry 8)")) << r.err;
  EXPECT_TRUE(Has(r.err, "resources left out")) << r.err;
  EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"report.tsv")),
            "line\treason\ttext\n3\tlink-loop\tloop\n4\tlink-loop\tround\n5\tempty-headword\tno headword\n"
            "6\tunreadable\tbee\n8\tlink-target-missing\tghost\n9\tunreadable\tsting\n");
  EXPECT_EQ(PackageEntries(dir.File(L"d.ldic")),
            (Entries{{"Apple", "red fruit\nround"}, {"apple", "red fruit\nround"}, {"fruit", "red fruit\nround"}}));
  // The style expanded, the HTML kept.
  ASSERT_EQ(Ldic({"convert", U8(mdx), "-o", U8(dir.File(L"kept.ldic")), "--keep-markup", "-q"}).status, 0);
  EXPECT_EQ(PackageEntries(dir.File(L"kept.ldic"))[0].second, "<b>red</b> fruit<br>round");
  // --strict refuses it.
  const Result strict = Ldic({"convert", U8(mdx), "-o", U8(dir.File(L"strict.ldic")), "--strict"});
  EXPECT_EQ(strict.status, 1);
  EXPECT_TRUE(Has(strict.err, "--strict: 6 entries skipped")) << strict.err;
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"strict.ldic")));
}

// What is refused makes no package and says why, in the dialog's words and then ldic's.
TEST(MdictInput, RefusedDictionariesMakeNoPackage) {
  const auto with = [](auto change) {
    mdict_test::Dictionary d;
    d.entries = {{"a", "one"}, {"b", "two"}};
    change(d);
    return mdict_test::WriteMdict(d);
  };
  const std::string good = with([](mdict_test::Dictionary&) {});
  mdict_test::Layout layout;
  mdict_test::Dictionary plain;
  plain.entries = {{"a", "one"}, {"b", "two"}};
  std::string damagedKeys = mdict_test::WriteMdict(plain, &layout);
  damagedKeys[layout.keyBlocks[0] + 9] ^= 0x55;
  const struct {
    const char* label;
    std::string bytes;
    UserMessage message;
    const char* reason;
  } cases[] = {
      {"registration key", with([](mdict_test::Dictionary& d) { d.encrypted = "1"; }),
       UserMessage::kMdictProtected, "registration key"},
      {"version 3.0", with([](mdict_test::Dictionary& d) { d.version = "3.0"; }),
       UserMessage::kMdictVersionTooNew, "3.0"},
      {"encoding", with([](mdict_test::Dictionary& d) { d.encoding = "KOI8-R"; }),
       UserMessage::kMdictEncodingUnknown, "unknown encoding \"KOI8-R\""},
      {"key block", damagedKeys, UserMessage::kMdictDamaged, "key block 1"},
      {"cut header", good.substr(0, 40), UserMessage::kMdictDamaged, "header"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    lumo_test::WriteBytes(dir.File(L"d.mdx"), c.bytes);
    const Result r = Ldic({"convert", U8(dir.File(L"d.mdx"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, std::string("ldic: ") + UserMessageUtf8(c.message) + " — ")) << r.err;
    EXPECT_TRUE(Has(r.err, c.reason)) << r.err;
    EXPECT_FALSE(lumo_test::FileExists(dir.File(L"d.ldic")));
  }
  // A dictionary's resource file is refused as one, not read as a word list.
  lumo_test::WriteBytes(dir.File(L"d.mdd"), lumo_test::ReadBytes(host_test::FixturePath(L"mdict/v2_utf8_html.mdd")));
  const Result r = Ldic({"convert", U8(dir.File(L"d.mdd"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, std::string(UserMessageUtf8(UserMessage::kMdictDamaged)) + " — ")) << r.err;
  EXPECT_TRUE(Has(r.err, "resource file (.mdd)")) << r.err;
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"d.ldic")));
}

}  // namespace
