// Reading MDict dictionaries: the sample files against what an independent reader found in
// them, and files of our own writer for every layout, encoding, link and style case, the
// refusals, and damage of every kind.

#include "mdict/mdict_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf.h"
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

// The strings of one line of the samples' JSON: ["headword", "record"].
std::vector<std::string> JsonStrings(std::string_view line) {
  std::vector<std::string> out;
  for (size_t at = 0; at < line.size(); ++at) {
    if (line[at] != '"') continue;
    std::string text;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
      if (line[at] != '\\') {
        text.push_back(line[at]);
        continue;
      }
      const char c = line[++at];
      if (c == 'u') {
        char32_t code = static_cast<char32_t>(std::stoul(std::string(line.substr(at + 1, 4)), nullptr, 16));
        at += 4;
        if (code >= 0xD800 && code <= 0xDBFF && line.substr(at + 1, 2) == "\\u") {
          const auto low = static_cast<char32_t>(std::stoul(std::string(line.substr(at + 3, 4)), nullptr, 16));
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        }
        AppendUtf8(&text, code);
      } else {
        text.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 'b' ? '\b' : c == 'f' ? '\f' : c);
      }
    }
    out.push_back(text);
  }
  return out;
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
    std::istringstream lines(lumo_test::ReadBytes(host_test::FixturePath(std::wstring(L"mdict/") + sample.name + L".entries.jsonl")));
    for (std::string line; std::getline(lines, line);) {
      const std::vector<std::string> pair = JsonStrings(line);
      ASSERT_EQ(pair.size(), 2u) << line;
      expected.push_back({expected.size() + 1, pair[0], pair[1]});
    }
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
  d.entries = {{"apple", "a <red> fruit & more"}, {"  Bee\t", "insect\r\nsecond line"}, {"bee", ""},
               {"long", std::string(700, 'x') + "end"}, {"apple", "again"}, {"中文", "Chinese 😀"}};
  const std::vector<Read> expected = {{1, "apple", "a <red> fruit & more"}, {2, "Bee", "insect\r\nsecond line"},
                                      {3, "bee", ""}, {4, "long", std::string(700, 'x') + "end"},
                                      {5, "apple", "again"}, {6, "中文", "Chinese 😀"}};
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

}  // namespace
