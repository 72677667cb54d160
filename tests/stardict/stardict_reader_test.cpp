// Reading StarDict dictionaries made here field by field: every layout the reader takes
// (type sequences or typed fields, 32- and 64-bit offsets, gzipped index, dictzip or
// plain gzip data, synonyms), the text every type gives, and damaged files.

#include "stardict/stardict_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/utf.h"
#include "stardict/dictzip.h"
#include "tests/stardict/stardict_fixtures.h"
#include "tests/support/test_support.h"
#include "textio/markup_text.h"

namespace {

using lumo_test::TempDir;
using namespace stardict_test;

struct Read {
  std::string word;
  std::string explanation;
  uint32_t binary = 0;
  bool unreadable = false;
  bool synonym = false;
  bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Read& r) {
  return os << "{" << r.word << ": " << r.explanation << ", binary " << r.binary
            << (r.unreadable ? ", unreadable" : "") << (r.synonym ? ", synonym" : "") << "}";
}

std::vector<Read> ReadAll(const std::wstring& ifo, const StarDictOptions& options = {}) {
  CStarDictReader reader;
  const Status opened = reader.Open(ifo);
  EXPECT_TRUE(opened.ok()) << opened.Where();
  std::vector<Read> out;
  EXPECT_TRUE(reader
                  .ReadEntries(options,
                               [&out](const StarDictEntry& e) {
                                 out.push_back({std::string(e.word), std::string(e.explanation),
                                                e.binaryFields, e.unreadable, e.synonym});
                                 return true;
                               })
                  .ok());
  return out;
}

const std::string kLongText = [] {
  std::string text;
  for (int i = 0; text.size() < 150000; ++i) text += "line " + std::to_string(i) + " of a long entry\n";
  return text;
}();

TEST(StarDictReader, EveryLayoutGivesTheEntries) {
  const std::vector<Record> plain = {{"apple", {{'m', "red fruit"}}},
                                     {"Bee", {{'m', "insect\nwith a second line"}}},
                                     {"long", {{'m', kLongText}}},
                                     {"'tis", {{'m', " it is "}}}};
  std::vector<Read> expected;
  for (const Record& r : plain) expected.push_back({r.word, r.fields[0].value});
  struct Case {
    const char* label;
    Layout layout;
  };
  const Case cases[] = {
      {"type sequence", {"m"}},
      {"typed fields", {""}},
      {"64-bit offsets", {"m", true}},
      {"gzipped index, dictzip data", {"m", false, Data::kDictzip, true}},
      {"plain gzip data", {"", true, Data::kGzip}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    EXPECT_EQ(ReadAll(WriteDictionary(dir, plain, c.layout)), expected) << c.label;
  }
}

TEST(StarDictReader, FieldsBecomeText) {
  struct Case {
    const char* label;
    std::vector<Field> fields;
    std::string sameTypes;
    Read expected;  // word "w"
    bool keepMarkup = false;
  };
  const std::string html = "<b>bold</b><br>next &amp; more<p>para</p>tail";
  const Case cases[] = {
      {"several text fields", {{'m', "one"}, {'t', "wʌn"}, {'y', "yī"}}, "", {"w", "one\nwʌn\nyī"}},
      {"the same with a sequence", {{'m', "one"}, {'t', "wʌn"}}, "mt", {"w", "one\nwʌn"}},
      {"HTML made readable", {{'h', html}}, "h", {"w", "bold\nnext & more\npara\ntail"}},
      {"HTML kept", {{'h', html}}, "h", {"w", html}, true},
      {"Pango and XDXF", {{'g', "<span foreground=\"red\">red</span>"}, {'x', "<k>w</k><def>a w</def>"}},
       "", {"w", "red\nw\na w"}},
      {"a sound beside the text", {{'W', std::string("RIFF\0\1", 6)}, {'m', "said"}}, "Wm", {"w", "said", 1}},
      {"typed sound and picture", {{'m', "text"}, {'W', "snd"}, {'P', std::string(300, '\xFF')}}, "", {"w", "text", 2}},
      {"binary only", {{'P', "png"}}, "P", {"w", "", 1}},
      {"resource list", {{'r', "img:a.png"}, {'m', "x"}}, "", {"w", "x", 1}},
      {"locale text", {{'l', "caf\xE9"}}, "l", {"w", "café"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    StarDictOptions options;
    options.keepMarkup = c.keepMarkup;
    options.codePage = 1252;
    const std::vector<Read> read = ReadAll(WriteDictionary(dir, {{"w", c.fields}}, {c.sameTypes}), options);
    EXPECT_EQ(read, std::vector<Read>{c.expected}) << c.label;
  }
}

TEST(StarDictReader, SynonymsTakeTheirTargetsExplanation) {
  TempDir dir;
  Layout layout{"m"};
  layout.synonyms = {{"fruit", 0}, {"bug", 1}, {"nothing", 7}};
  const std::vector<Read> read =
      ReadAll(WriteDictionary(dir, {{"apple", {{'m', "red"}}}, {"bee", {{'m', "insect"}}}}, layout));
  const std::vector<Read> expected = {{"apple", "red"},
                                      {"bee", "insect"},
                                      {"fruit", "red", 0, false, true},
                                      {"bug", "insect", 0, false, true},
                                      {"nothing", "", 0, true, true}};
  EXPECT_EQ(read, expected);
}

// Damage in the files: what cannot be read at all fails the opening, or for the index,
// which is read as the entries are, the reading, with the file and the reason; what
// concerns one entry makes that entry unreadable and leaves the others.
TEST(StarDictReader, DamageIsToldOrConfinedToItsEntry) {
  const std::vector<Record> records = {{"apple", {{'m', "red fruit"}}}, {"bee", {{'m', kLongText}}}};
  struct Case {
    const char* label;
    Layout layout;
    std::function<void(const TempDir&)> damage;
    std::string failure;                 // part of the opening's or reading's failure, or empty
    std::vector<bool> unreadable = {};   // per entry, when the opening succeeds
  };
  const auto edit = [](const std::wstring& path, const std::function<void(std::string*)>& change) {
    std::string bytes = lumo_test::ReadBytes(path);
    change(&bytes);
    lumo_test::WriteBytes(path, bytes);
  };
  const Case cases[] = {
      {"index cut inside its last record", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.idx"), [](std::string* b) { b->resize(b->size() - 3); }); },
       "ends inside record 2"},
      {"offset past the data", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.idx"), [](std::string* b) { (*b)[6] = '\x7F'; }); },
       "", {true, false}},
      {"size past the data", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.idx"), [](std::string* b) { (*b)[b->size() - 4] = '\x7F'; }); },
       "", {false, true}},
      {"data file cut short", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.dict"), [](std::string* b) { b->resize(100); }); },
       "", {false, true}},
      {"chunk table larger than the file", {"m", false, Data::kDictzip},
       [&](const TempDir& d) { edit(d.File(L"d.dict.dz"), [](std::string* b) { (*b)[22] = '\xFF'; (*b)[23] = '\xFF'; }); },
       "chunk table"},
      {"damaged chunk", {"m", false, Data::kDictzip},
       [&](const TempDir& d) {
         edit(d.File(L"d.dict.dz"), [](std::string* b) { for (size_t i = 60; i < 90; ++i) (*b)[i] = '\x55'; });
       },
       "", {true, true}},
      {"gzipped index damaged", {"m", false, Data::kPlain, true},
       [&](const TempDir& d) { edit(d.File(L"d.idx.gz"), [](std::string* b) { b->resize(b->size() / 2); }); },
       "ends early"},
      {"text field without its end", {"mm"},
       [&](const TempDir& d) { edit(d.File(L"d.dict"), [](std::string* b) { std::replace(b->begin(), b->end(), '\0', '.'); }); },
       "", {true, true}},
      {"no data file", {"m"}, [](const TempDir& d) { std::filesystem::remove(lumo_test::FsPath(d.File(L"d.dict"))); },
       "no .dict or .dict.dz"},
      {"unknown version", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.ifo"), [](std::string* b) { b->replace(b->find("2.4.2"), 5, "2.0.0"); }); },
       "version 2.0.0"},
      {"64-bit offsets in version 2.4.2", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.ifo"), [](std::string* b) { *b += "idxoffsetbits=64\n"; }); },
       "64-bit"},
      {"not an information file", {"m"},
       [&](const TempDir& d) { edit(d.File(L"d.ifo"), [](std::string* b) { (*b)[0] = 's'; }); },
       "not a StarDict"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<Record> written = records;
    if (c.layout.sameTypes == "mm") written = {{"apple", {{'m', "a"}, {'m', "b"}}}, {"bee", {{'m', "c"}, {'m', "d"}}}};
    const std::wstring ifo = WriteDictionary(dir, written, c.layout);
    c.damage(dir);
    CStarDictReader reader;
    Status result = reader.Open(ifo);
    std::vector<bool> unreadable;
    if (result) {
      result = reader.ReadEntries({}, [&](const StarDictEntry& e) {
        unreadable.push_back(e.unreadable);
        return true;
      });
    }
    if (!c.failure.empty()) {
      EXPECT_FALSE(result.ok()) << c.label;
      EXPECT_NE(result.Where().find(c.failure), std::string::npos) << c.label << ": " << result.Where();
      continue;
    }
    ASSERT_TRUE(result.ok()) << c.label << ": " << result.Where();
    EXPECT_EQ(unreadable, c.unreadable) << c.label;
  }
}

TEST(MarkupToText, TagsLinesAndReferences) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"a<br>b<br/>c<BR />d", "a\nb\nc\nd"},
      {"<div>one</div><div>two</div>", "one\ntwo"},
      {"<p>a</p><br><br><br><p>b</p>", "a\n\nb"},
      {"x &lt;y&gt; &#20320;&#x597D; &nbsp;&unknown; &#0; &", "x <y> 你好  &unknown; \xEF\xBF\xBD &"},
      {"<script>var a = 1 < 2;</script>shown<style>p{}</style>", "shown"},
      {"<!-- a comment -->after", "after"},
      {"1 < 2 and 3 > 2", "1 < 2 and 3 > 2"},
      {"kept\nbreak", "kept\nbreak"},
      {"<ul><li>a</li><li>b</li></ul>", "a\nb"},
      {"unclosed <b", "unclosed <b"},
  };
  for (const auto& [markup, text] : cases) EXPECT_EQ(MarkupToText(markup), text) << markup;
}

}  // namespace
