// Reading MDict dictionaries: the sample files against what an independent reader found in
// them, and files of our own writer for every layout, encoding, link and style case, the
// refusals, and damage of every kind.

#include "mdict/mdict_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/utf.h"
#include "mdict/mdict_source.h"
#include "mdict/mdict_text.h"
#include "platform/text_convert.h"
#include "tests/mdict/mdict_samples.h"
#include "tests/mdict/mdict_writer.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"
#include "textio/markup_text.h"

namespace {

using lumo_test::TempDir;
using namespace mdict_test;

struct Read {
  uint64_t number = 0;
  std::string word;
  std::string explanation;
  MdictProblem problem = MdictProblem::kNone;
  bool link = false;
  bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Read& r) {
  return os << "{" << r.number << " " << r.word << ": " << r.explanation << ", problem "
            << static_cast<int>(r.problem) << (r.link ? ", link" : "") << "}";
}

Status ReadAll(const std::wstring& path, const MdictOptions& options, std::vector<Read>* out) {
  out->clear();
  CMdictReader reader;
  if (Status opened = reader.Open(path); !opened) return opened;
  return reader.ReadEntries(options, [out](const MdictEntry& e) {
    out->push_back({e.number, std::string(e.word), std::string(e.explanation), e.problem, e.link});
    return true;
  });
}

std::vector<Read> ReadAll(const std::wstring& path, const MdictOptions& options = {}) {
  std::vector<Read> out;
  const Status read = ReadAll(path, options, &out);
  EXPECT_TRUE(read.ok()) << read.Where();
  return out;
}

std::wstring Write(const TempDir& dir, const Dictionary& d, Layout* layout = nullptr) {
  const std::wstring path = dir.File(L"d.mdx");
  lumo_test::WriteBytes(path, WriteMdict(d, layout));
  return path;
}

TEST(MdictReader, SamplesGiveWhatAnIndependentReaderFinds) {
  const struct {
    const wchar_t* name;
    unsigned version;
    MdictEncoding encoding;
    int encrypted;
    const char* titleText;
    bool resources;
  } samples[] = {
      {L"v1_2_zlib", 120, MdictEncoding::kUtf8, 0, "Oracle 1.2 zlib", false},
      {L"v2_gbk", 200, MdictEncoding::kGb18030, 0, "Oracle GBK 词典", false},
      {L"v2_keyinfo_encrypted", 200, MdictEncoding::kUtf8, 2, "Oracle Encrypted=2", false},
      {L"v2_lzo", 200, MdictEncoding::kUtf8, 0, "Oracle 2.0 LZO", false},
      {L"v2_utf8_html", 200, MdictEncoding::kUtf8, 0, "Oracle UTF-8 «Html» & \"quotes\"", true},
  };
  for (const auto& sample : samples) {
    SCOPED_TRACE(WideToUtf8(sample.name));
    const std::wstring path = host_test::FixturePath(std::wstring(L"mdict/") + sample.name + L".mdx");
    std::vector<Read> expected;
    for (const Entry& e : SampleEntries(sample.name)) expected.push_back({expected.size() + 1, e.key, e.record});
    ASSERT_FALSE(expected.empty());

    MdictFacts facts;
    ASSERT_TRUE(CMdictReader::ReadFacts(path, &facts).ok());
    EXPECT_EQ(facts.version, sample.version);
    EXPECT_EQ(facts.encoding, sample.encoding);
    EXPECT_EQ(facts.encrypted, sample.encrypted);
    EXPECT_EQ(facts.format, MdictFormat::kHtml);
    EXPECT_EQ(facts.titleText, sample.titleText);
    EXPECT_EQ(facts.hasResourcesBeside, sample.resources);
    EXPECT_EQ(facts.entryCount, expected.size());

    MdictOptions raw;
    raw.rawRecords = true;
    EXPECT_EQ(ReadAll(path, raw), expected);
    // Converted, each explanation is the text of its HTML.
    for (Read& r : expected) r.explanation = MarkupToText(r.explanation);
    EXPECT_EQ(ReadAll(path), expected);
  }
}

TEST(MdictReader, EveryLayoutGivesTheEntries) {
  Dictionary d;
  d.format = "Text";
  d.entries = {{"apple", "a <red> fruit & more"},
               {"  Bee\t", "insect\r\nsecond line"},
               {"bee", ""},
               {"long", std::string(700, 'x') + "end"},
               {"apple", "again"},
               {"中文", "Chinese 😀"}};
  const std::vector<Read> expected = {{1, "apple", "a <red> fruit & more"},
                                      {2, "Bee", "insect\r\nsecond line"},
                                      {3, "bee", ""},
                                      {4, "long", std::string(700, 'x') + "end"},
                                      {5, "apple", "again"},
                                      {6, "中文", "Chinese 😀"}};
  for (const char* version : {"1.2", "2.0"}) {
    for (const Compression compression : {Compression::kNone, Compression::kLzo, Compression::kZlib}) {
      for (const bool split : {false, true}) {
        for (const char* encrypted : {"0", "2"}) {
          for (const char* encoding : {"UTF-8", "UTF-16"}) {
            if (std::string(version) == "1.2" && std::string(encrypted) == "2") continue;
            d.version = version;
            d.compression = compression;
            d.splitRecords = split;
            d.encrypted = encrypted;
            d.encoding = encoding;
            d.keysPerBlock = split ? 1 : 4;
            d.recordBlockBytes = split ? 7 : 100;
            TempDir dir;
            EXPECT_EQ(ReadAll(Write(dir, d)), expected)
                << version << " compression " << static_cast<int>(compression) << (split ? " split" : "")
                << " encrypted " << encrypted << " " << encoding;
          }
        }
      }
    }
  }
}

TEST(MdictReader, EncodingsBecomeUtf8) {
  const struct {
    const char* encoding;
    Entry entry;
    Read expected;
  } cases[] = {
      {"GBK", {"\xD6\xD0\xCE\xC4", "\xB4\xCA\xB5\xE4"}, {1, "中文", "词典"}},
      {"GB2312", {"\xB4\xCA\xB5\xE4", "x"}, {1, "词典", "x"}},
      // Read as GB18030: its four-byte sequences too.
      {"GBK", {"smile", "\x94\x39\xFC\x36 \xD6\xD0"}, {1, "smile", "😀 中"}},
      {"Big5", {"\xA4\xA4\xA4\xE5", "\xB5\xFC\xA8\xE5"}, {1, "中文", "詞典"}},
      {"UTF-16", {"日本語", "pair 😀"}, {1, "日本語", "pair 😀"}},
      {"UTF8", {"naïve", "café"}, {1, "naïve", "café"}},
      {"", {"naïve", "café"}, {1, "naïve", "café"}},
      // Bytes that are no UTF-8 are replaced, never passed on.
      {"UTF-8", {"bad\xFF", "x\xC3"}, {1, "bad\xEF\xBF\xBD", "x\xEF\xBF\xBD"}},
  };
  for (const auto& c : cases) {
    Dictionary d;
    d.format = "Text";
    d.encoding = c.encoding;
    d.entries = {c.entry};
    TempDir dir;
    EXPECT_EQ(ReadAll(Write(dir, d)), std::vector<Read>{c.expected}) << c.encoding;
  }
}

TEST(MdictText, Gb18030ThroughGbkWhereTheSystemLacksIt) {
  EXPECT_EQ(Gb18030ToUtf8ThroughGbk("a\xD6\xD0\x94\x39\xFC\x36"
                                    "b\x95\x32\x82\x36\xCE\xC4"),
            "a中😀b𠀀文");
  // Within the first plane the tables are not at hand; cut sequences are GBK's to judge.
  EXPECT_EQ(Gb18030ToUtf8ThroughGbk("\x81\x30\x81\x30x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Gb18030ToUtf8ThroughGbk("\xE3\x32\x9A\x36\x94\x39"),
            "\xEF\xBF\xBD" + platform::AnsiToUtf8("\x94\x39", 936));
}

TEST(MdictReader, LinksTakeTheirTargetsExplanation) {
  const auto link = [](const std::string& target) { return "@@@LINK=" + target + "\r\n"; };
  struct Case {
    const char* label;
    std::vector<Entry> entries;
    std::vector<Read> expected;  // the others in file order, then the aliases
    std::string caseSensitive = "No";
  };
  const std::vector<Case> cases = {
      {"a chain of two",
       {{"colour", link("color")}, {"color", "hue"}, {"hue", link(" colour ")}},
       {{2, "color", "hue"},
        {1, "colour", "hue", MdictProblem::kNone, true},
        {3, "hue", "hue", MdictProblem::kNone, true}}},
      {"a loop and a link to itself",
       {{"a", link("b")}, {"b", link("a")}, {"self", link("self")}, {"x", "text"}},
       {{4, "x", "text"},
        {1, "a", "", MdictProblem::kLinkLoop, true},
        {2, "b", "", MdictProblem::kLinkLoop, true},
        {3, "self", "", MdictProblem::kLinkLoop, true}}},
      {"a missing target, and one reached through it",
       {{"a", link("nowhere")}, {"b", link("a")}, {"c", "@@@LINK="}},
       {{1, "a", "", MdictProblem::kLinkTargetMissing, true},
        {2, "b", "", MdictProblem::kLinkTargetMissing, true},
        {3, "c", "", MdictProblem::kLinkTargetMissing, true}}},
      {"a target that differs in letter case only",
       {{"Straße", link("STRASSE")}, {"Ελλάδα", link("ΕΛΛΆΔΑ")}, {"strasse", "street"}, {"ελλάδα", "Greece"}},
       {{3, "strasse", "street"},
        {4, "ελλάδα", "Greece"},
        {1, "Straße", "street", MdictProblem::kNone, true},
        {2, "Ελλάδα", "Greece", MdictProblem::kNone, true}}},
      {"the same where the keys are case-sensitive",
       {{"Strasse", link("STRASSE")}, {"strasse", "street"}, {"STRASSE", "STREET"}},
       {{2, "strasse", "street"},
        {3, "STRASSE", "STREET"},
        {1, "Strasse", "STREET", MdictProblem::kNone, true}},
       "Yes"},
      {"the exact key before case variants",
       {{"alias", link("Word")}, {"word", "lower"}, {"Word", "upper"}},
       {{2, "word", "lower"}, {3, "Word", "upper"}, {1, "alias", "upper", MdictProblem::kNone, true}}},
      {"a repeated target key, through a chain and directly",
       {{"x", link("y")}, {"y", "first"}, {"z", link("x")}, {"y", "second"}},
       {{2, "y", "first"},
        {4, "y", "second"},
        {1, "x", "first", MdictProblem::kNone, true},
        {3, "z", "first", MdictProblem::kNone, true},
        {1, "x", "second", MdictProblem::kNone, true},
        {3, "z", "second", MdictProblem::kNone, true}}},
      {"a loop beside a record",
       {{"k", link("k")}, {"k", "real"}},
       {{2, "k", "real"}, {1, "k", "real", MdictProblem::kNone, true}}},
  };
  for (const Case& c : cases) {
    Dictionary d;
    d.format = "Text";
    d.keyCaseSensitive = c.caseSensitive;
    d.entries = c.entries;
    d.recordBlockBytes = 16;
    TempDir dir;
    EXPECT_EQ(ReadAll(Write(dir, d)), c.expected) << c.label;
  }
}

TEST(MdictReader, StyleSheetsAndFormats) {
  const std::string sheet = "1\n<b>\n</b>\r\n2\r\n<i class=\"x\">\r\n</i>\n\n3\n\n<br>\n";
  const std::string record = "`1`bold`2`italic`7`plain`3`tail `x` and `` `12";
  struct Case {
    const char* label;
    std::string format, styleSheet;
    bool keepMarkup;
    std::string expected;
  };
  const Case cases[] = {
      {"HTML kept", "Html", sheet, true, "<b>bold</b><i class=\"x\">italic</i>plaintail `x` and `` `12<br>"},
      {"HTML as text", "Html", sheet, false, "bolditalicplaintail `x` and `` `12"},
      {"no style sheet: markers stay", "Html", "", true, record},
      {"text: the styles' markup left out, the record's own kept", "Text", sheet, false,
       "bolditalicplaintail `x` and `` `12"},
      {"text kept with the styles' markup", "Text", sheet, true,
       "<b>bold</b><i class=\"x\">italic</i>plaintail `x` and `` `12<br>"},
  };
  for (const Case& c : cases) {
    Dictionary d;
    d.format = c.format;
    d.styleSheet = c.styleSheet;
    d.entries = {{"w", record}, {"t", "a &amp; <b>b</b>"}};
    TempDir dir;
    MdictOptions options;
    options.keepMarkup = c.keepMarkup;
    const std::vector<Read> read = ReadAll(Write(dir, d), options);
    ASSERT_EQ(read.size(), 2u) << c.label;
    EXPECT_EQ(read[0].explanation, c.expected) << c.label;
    // Text is taken as it is; HTML is made into text unless kept.
    const bool html = c.format == "Html";
    EXPECT_EQ(read[1].explanation, html && !c.keepMarkup ? "a & b" : "a &amp; <b>b</b>") << c.label;
  }
}

TEST(MdictReader, FactsAndRefusals) {
  TempDir dir;
  Dictionary d;
  d.entries = {{"a", "b"}};
  d.title = "<b>My</b> &amp; Dictionary";
  d.description = "<p>About</p>";
  d.keyCaseSensitive = "Yes";
  MdictFacts facts;
  ASSERT_TRUE(CMdictReader::ReadFacts(Write(dir, d), &facts).ok());
  EXPECT_EQ(facts.title, "<b>My</b> &amp; Dictionary");
  EXPECT_EQ(facts.titleText, "My & Dictionary");
  EXPECT_EQ(facts.description, "<p>About</p>");
  EXPECT_TRUE(facts.keyCaseSensitive);
  EXPECT_FALSE(facts.hasResourcesBeside);
  lumo_test::WriteBytes(dir.File(L"d.mdd"), "resources");
  ASSERT_TRUE(CMdictReader::ReadFacts(dir.File(L"d.mdx"), &facts).ok());
  EXPECT_TRUE(facts.hasResourcesBeside);
  for (const char* title : {"Title (No HTML code allowed)", "", " <br> "}) {
    d.title = title;
    ASSERT_TRUE(CMdictReader::ReadFacts(Write(dir, d), &facts).ok());
    EXPECT_EQ(facts.titleText, "") << title;
  }

  struct Refusal {
    const char* label;
    Dictionary dictionary;
    StatusKind kind;
    const char* reason;
  };
  const auto with = [&d](auto change) {
    Dictionary changed = d;
    change(changed);
    return changed;
  };
  const Refusal refusals[] = {
      {"a registration key", with([](Dictionary& x) { x.encrypted = "1"; }), StatusKind::kInputProtected,
       "registration"},
      {"both bits", with([](Dictionary& x) { x.encrypted = "3"; }), StatusKind::kInputProtected,
       "registration"},
      {"version 3.0", with([](Dictionary& x) { x.version = "3.0"; }), StatusKind::kInputVersionTooNew, "3.0"},
      {"an unknown encoding", with([](Dictionary& x) { x.encoding = "KOI8-R"; }),
       StatusKind::kMdictEncodingUnknown, "KOI8-R"},
      {"no version", with([](Dictionary& x) { x.version = ""; }), StatusKind::kMdictDamaged, "version"},
  };
  for (const Refusal& r : refusals) {
    const std::wstring path = Write(dir, r.dictionary);
    CMdictReader reader;
    const Status opened = reader.Open(path);
    EXPECT_EQ(opened.Kind(), r.kind) << r.label;
    EXPECT_NE(opened.Reason().find(r.reason), std::string::npos) << r.label << ": " << opened.Reason();
    EXPECT_EQ(reader.EntryCount(), 0u) << r.label;
    EXPECT_EQ(CMdictReader::ReadFacts(path, &facts).Kind(), r.kind) << r.label;
  }
  EXPECT_TRUE(IsMdictPath(L"dir/Words.MDX"));
  EXPECT_FALSE(IsMdictPath(L"dir/Words.mdd"));
  EXPECT_FALSE(IsMdictPath(L"mdx"));

  // A header in UTF-8, as a later version may write it, is told by its version too.
  const std::string text = "<Dictionary GeneratedByEngineVersion=\"3.0\" Encoding=\"UTF-8\"/>";
  const auto adler = adler32(1, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
  std::string bytes = {0, 0, 0, static_cast<char>(text.size())};
  bytes += text;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(adler >> (8 * i)));
  lumo_test::WriteBytes(dir.File(L"v3.mdx"), bytes + std::string(64, '\0'));
  EXPECT_EQ(CMdictReader::ReadFacts(dir.File(L"v3.mdx"), &facts).Kind(), StatusKind::kInputVersionTooNew);

  EXPECT_STREQ(UserMessageUtf8(MessageFor(Status::Error(StatusKind::kInputProtected))),
               "该MDict词典受注册码保护，无法转换。");
  EXPECT_STREQ(UserMessageUtf8(MessageFor(Status::Error(StatusKind::kInputVersionTooNew))),
               "暂不支持MDict 3.0及以上版本的词典。");
}

TEST(MdictReader, EmptyHeadwordsStopsAndCancels) {
  Dictionary d;
  d.format = "Text";
  d.entries = {{" \t ", "blank key"}, {"a", "1"}, {"b", "2"}, {"", "@@@LINK=a"}, {"c", "@@@LINK=a"}};
  TempDir dir;
  const std::wstring path = Write(dir, d);
  EXPECT_EQ(ReadAll(path), (std::vector<Read>{{1, "", "blank key", MdictProblem::kEmptyHeadword},
                                              {2, "a", "1"},
                                              {3, "b", "2"},
                                              {4, "", "@@@LINK=a", MdictProblem::kEmptyHeadword, true},
                                              {5, "c", "1", MdictProblem::kNone, true}}));
  CMdictReader reader;
  ASSERT_TRUE(reader.Open(path).ok());
  int visits = 0;
  EXPECT_TRUE(reader.ReadEntries({}, [&visits](const MdictEntry&) { return ++visits < 2; }).ok());
  EXPECT_EQ(visits, 2);
  std::atomic<bool> running{false};
  EXPECT_EQ(reader
                .ReadEntries(
                    {}, [](const MdictEntry&) { return true; }, &running)
                .Kind(),
            StatusKind::kCancelled);
  // Progress ends at every entry of the file.
  MdictOptions options;
  uint64_t done = 0, total = 0;
  options.progress = [&](uint64_t d, uint64_t t) { done = d, total = t; };
  EXPECT_TRUE(reader.ReadEntries(options, [](const MdictEntry&) { return true; }).ok());
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(total, 5u);
}

// Every byte of a small dictionary damaged in turn (of the header's text, which only its
// checksum guards, every sixteenth), and cuts: a failure, or every entry handed, each as
// written or unreadable, the same whether the blocks are decompressed ahead or not. Never
// a crash, never an entry lost.
TEST(MdictReader, DamageGivesAFailureOrUnreadableEntries) {
  const struct {
    const char* version;
    Compression compression;
  } layouts[] = {{"1.2", Compression::kNone},
                 {"1.2", Compression::kZlib},
                 {"2.0", Compression::kLzo},
                 {"2.0", Compression::kZlib}};
  for (const auto& [version, compression] : layouts) {
    SCOPED_TRACE(std::string(version) + " compression " + std::to_string(static_cast<int>(compression)));
    Dictionary d;
    d.version = version;
    d.compression = compression;
    d.format = "Text";
    d.title = "";
    d.encrypted = std::string(version) == "2.0" ? "2" : "0";
    d.recordBlockBytes = 10;
    d.entries = {{"a", "one"}, {"b", "two two"}, {"c", "three"}, {"d", "@@@LINK=a"}, {"e", "five"}};
    TempDir dir;
    Layout layout;
    const std::wstring path = dir.File(L"d.mdx");
    const std::string good = WriteMdict(d, &layout);
    lumo_test::WriteBytes(path, good);
    std::vector<Read> original = ReadAll(path);
    std::sort(original.begin(), original.end(),
              [](const Read& a, const Read& b) { return a.number < b.number; });
    ASSERT_EQ(original.size(), 5u);
    const auto check = [&](const std::string& bytes, const std::string& what) {
      lumo_test::WriteBytes(path, bytes);
      std::vector<Read> read;
      const Status status = ReadAll(path, {}, &read);
      // Decompressing ahead on a thread of its own gives the same, whatever the damage to
      // the record section.
      const bool recordsDamaged = bytes.compare(0, layout.recordSection, good, 0, layout.recordSection) == 0;
      if (bytes.size() < good.size() || recordsDamaged) {
        std::vector<Read> ahead;
        MdictOptions threads;
        threads.threads = 2;
        const Status aheadStatus = ReadAll(path, threads, &ahead);
        EXPECT_EQ(aheadStatus.Kind(), status.Kind()) << what;
        EXPECT_EQ(aheadStatus.Reason(), status.Reason()) << what;
        EXPECT_EQ(ahead, read) << what;
      }
      if (!status) {
        EXPECT_FALSE(status.Reason().empty()) << what;
        EXPECT_NE(status.Kind(), StatusKind::kOk) << what;
        return false;
      }
      // An alias in a damaged block comes with the others, unreadable: by number.
      std::sort(read.begin(), read.end(), [](const Read& a, const Read& b) { return a.number < b.number; });
      EXPECT_EQ(read.size(), original.size()) << what;
      for (size_t i = 0; i < read.size() && i < original.size(); ++i) {
        if (read[i].problem == MdictProblem::kUnreadable) {
          EXPECT_EQ(read[i].number, original[i].number) << what;
          EXPECT_EQ(read[i].word, original[i].word) << what;
        } else {
          EXPECT_EQ(read[i], original[i]) << what;
        }
      }
      return true;
    };
    size_t readable = 0;
    for (size_t at = 0; at < good.size(); at += at >= 4 && at < layout.keySection - 4 ? 16 : 1) {
      std::string bytes = good;
      bytes[at] = static_cast<char>(bytes[at] ^ 0x41);
      readable += check(bytes, "byte " + std::to_string(at));
    }
    // Damage inside the record blocks leaves the dictionary readable, with unreadable
    // entries; so may damage to what the reader passes over (in version 1.2, the key
    // index's copies of each block's first and last keys).
    EXPECT_GE(readable, layout.end - layout.recordBlocks[0]);
    for (size_t cut = 0; cut < good.size(); cut += cut < layout.keySection ? 16 : 3)
      EXPECT_FALSE(check(good.substr(0, cut), "cut at " + std::to_string(cut))) << cut;
    EXPECT_FALSE(check(good.substr(0, good.size() - 1), "the last byte cut"));
  }
}

TEST(MdictReader, ADamagedRecordBlockLeavesTheOthersReadable) {
  Dictionary d;
  d.format = "Text";
  d.recordBlockBytes = 1;
  d.entries = {{"a", "first"}, {"b", "second"}, {"c", "third"}, {"d", "@@@LINK=b"}, {"e", "@@@LINK=c"}};
  Layout layout;
  std::string bytes = WriteMdict(d, &layout);
  ASSERT_EQ(layout.recordBlocks.size(), 5u);
  bytes[layout.recordBlocks[1]] = 7;  // an unknown compression type
  TempDir dir;
  lumo_test::WriteBytes(dir.File(L"d.mdx"), bytes);
  EXPECT_EQ(ReadAll(dir.File(L"d.mdx")), (std::vector<Read>{{1, "a", "first"},
                                                            {2, "b", "", MdictProblem::kUnreadable},
                                                            {3, "c", "third"},
                                                            {4, "d", "", MdictProblem::kUnreadable, true},
                                                            {5, "e", "third", MdictProblem::kNone, true}}));
}

}  // namespace

// The source hands what the reader gives, numbered without gaps, gives the same again, and
// refuses to once the file is another (natively: Windows keeps it from being changed
// while it is open).
TEST(MdictSource, ReadsAgainWhileTheFileIsUnchanged) {
  Dictionary d;
  d.format = "Text";
  d.entries = {{"a", "one"}, {"b", "@@@LINK=a"}, {"", "none"}, {"c", "three"}};
  TempDir dir;
  const std::wstring path = Write(dir, d);
  const std::unique_ptr<IEntrySource> source = OpenMdictSource(path, {});
  ASSERT_TRUE(source->Opened().ok());
  size_t records = 0;  // each with its NUL
  for (const Entry& e : d.entries) records += e.record.size() + 1;
  EXPECT_EQ(source->Size(), records);
  std::vector<std::string> first, again;
  const auto into = [](std::vector<std::string>* out) {
    return [out](size_t i, std::string_view word, std::string_view explanation) {
      EXPECT_EQ(i, out->size());
      out->push_back(std::string(word) + "=" + std::string(explanation));
      return true;
    };
  };
  CRunReport report;
  ASSERT_TRUE(source->Read(into(&first), &report, {}).ok());
  EXPECT_EQ(first, (std::vector<std::string>{"a=one", "c=three", "b=one"}));
  EXPECT_EQ(report.LinesRead(), 4u);
  EXPECT_EQ(report.Skipped(LineProblem::kEmptyHeadword), 1u);
  ASSERT_TRUE(source->CanReadAgain());
  ASSERT_TRUE(source->ReadAgain(into(&again), false, {}).ok());
  EXPECT_EQ(again, first);
#ifndef _WIN32
  d.entries[0].record = "ONE";
  lumo_test::WriteBytes(path, WriteMdict(d) + "more");
  again.clear();
  EXPECT_EQ(source->ReadAgain(into(&again), false, {}).Kind(), StatusKind::kInputChanged);
#endif
}
