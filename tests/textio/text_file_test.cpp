// The word-list reader: encoding detection and line splitting, read through real files
// with small and default block sizes so that block boundaries fall inside lines, marks
// and multi-byte sequences.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/file.h"
#include "tests/support/test_support.h"
#include "textio/text_file.h"

namespace {

struct ReadResult {
  TextEncoding encoding;
  std::vector<std::string> lines;
};

ReadResult ReadAll(const std::string& bytes, size_t blockSize = CTextFileRead::kDefaultBlockSize) {
  lumo_test::TempDir dir;
  const std::wstring path = dir.File(L"list.txt");
  lumo_test::WriteBytes(path, bytes);
  platform::CFile file;
  EXPECT_TRUE(file.Open(path));
  CTextFileRead reader(&file, blockSize);
  ReadResult result{reader.GetEncoding(), {}};
  std::string line;
  while (!reader.IsEndOfFile()) {
    EXPECT_TRUE(reader.ReadLine(line));
    result.lines.push_back(line);
    EXPECT_LT(result.lines.size(), 100000u) << "reader does not reach the end";
    if (result.lines.size() >= 100000u) break;
  }
  EXPECT_FALSE(reader.ReadLine(line));
  return result;
}

using Lines = std::vector<std::string>;

TEST(TextFileRead, LineBreaksOfEveryKind) {
  struct Case {
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"", {""}},
      {"one", {"one"}},
      {"one\r\n", {"one", ""}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR ends two lines
      {"a\r\r\nb", {"a", "", "b"}},
      {"\n\n", {"", "", ""}},
      {std::string("a\0b\n", 4), {"ab", ""}},  // NUL bytes are removed
  };
  for (const Case& c : cases)
    for (size_t block : {size_t{16}, size_t{17}, CTextFileRead::kDefaultBlockSize})
      EXPECT_EQ(ReadAll(c.bytes, block).lines, c.lines) << "input: " << c.bytes << " block " << block;
}

TEST(TextFileRead, ByteOrderMarks) {
  ReadResult utf8 = ReadAll("\xEF\xBB\xBFhi\xE4\xBD\xA0\n");
  EXPECT_EQ(utf8.encoding, TextEncoding::Utf8);
  EXPECT_EQ(utf8.lines, (Lines{"hi\xE4\xBD\xA0", ""}));

  ReadResult le = ReadAll(std::string("\xFF\xFE" "a\0\x60\x4F\r\0\n\0b\0", 12));
  EXPECT_EQ(le.encoding, TextEncoding::Utf16LE);
  EXPECT_EQ(le.lines, (Lines{"a\xE4\xBD\xA0", "b"}));

  ReadResult be = ReadAll(std::string("\xFE\xFF\0a\x4F\x60", 6));
  EXPECT_EQ(be.encoding, TextEncoding::Utf16BE);
  EXPECT_EQ(be.lines, (Lines{"a\xE4\xBD\xA0"}));

  // A mark alone is an empty text: one empty line.
  EXPECT_EQ(ReadAll("\xFF\xFE").lines, (Lines{""}));

  // EF BB without BF is no mark: the bytes are the start of an ANSI first line.
  ReadResult fake = ReadAll("\xEF\xBB\x41,b");
  EXPECT_EQ(fake.encoding, TextEncoding::Ansi);
  EXPECT_EQ(fake.lines, (Lines{"\xEF\xBB\x41,b"}));
}

TEST(TextFileRead, Utf16PairsOddBytesAndNul) {
  // U+1F600 as a surrogate pair, a lone high surrogate, a NUL unit and an odd last byte.
  const std::string bytes("\xFF\xFE\x3D\xD8\x00\xDE\x3D\xD8x\0\0\0y\0z", 15);
  ReadResult r = ReadAll(bytes, 16);
  EXPECT_EQ(r.lines, (Lines{"\xF0\x9F\x98\x80\xEF\xBF\xBDxy"}));
}

TEST(TextFileRead, DetectionWithoutMark) {
  // ASCII neither decides nor scores: a GBK file that starts with English is ANSI.
  const std::string english(5000, 'e');
  EXPECT_EQ(ReadAll(english + "\n\xD6\xD0,\xCE\xC4").encoding, TextEncoding::Ansi);
  EXPECT_EQ(ReadAll(english).encoding, TextEncoding::Utf8);
  EXPECT_EQ(ReadAll("\xE4\xBD\xA0\xE5\xA5\xBD,hello").encoding, TextEncoding::Utf8);
  EXPECT_EQ(ReadAll("\xF0\x9F\x98\x80,smile").encoding, TextEncoding::Utf8);
  // Overlong forms are not UTF-8; GBK's C0 A1 is therefore read as ANSI.
  EXPECT_EQ(ReadAll("\xC0\xA1,x").encoding, TextEncoding::Ansi);
  // 34 valid sequences reach the certainty score: later junk does not change the verdict
  // and is replaced, one U+FFFD per offending byte.
  std::string sure;
  for (int i = 0; i < 34; ++i) sure += "\xE4\xBD\xA0";
  ReadResult r = ReadAll(sure + "\n\xFF\xE4\xBD", 16);
  EXPECT_EQ(r.encoding, TextEncoding::Utf8);
  EXPECT_EQ(r.lines.back(), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  // A file that ends inside a sequence stays UTF-8.
  EXPECT_EQ(ReadAll("ab\xE4\xBD").encoding, TextEncoding::Utf8);
  // The look is bounded: past 16 MiB of ASCII the file is taken as it would be at its end.
  EXPECT_EQ(ReadAll(std::string(16 << 20, 'e') + "\n\xD6\xD0,\xCE\xC4", 1 << 20).encoding,
            TextEncoding::Utf8);
}

// A cancelled run reads no further, also not while the encoding is examined.
TEST(TextFileRead, StopsWhenTheRunIsCancelled) {
  lumo_test::TempDir dir;
  lumo_test::WriteBytes(dir.File(L"list.txt"), std::string(1 << 20, 'e') + "\n\xD6\xD0\n");
  platform::CFile file;
  ASSERT_TRUE(file.Open(dir.File(L"list.txt")));
  const std::atomic<bool> running{false};
  CTextFileRead reader(&file, 4096, &running);
  EXPECT_EQ(reader.GetEncoding(), TextEncoding::Utf8);  // the GBK line was never seen
  std::string line;
  for (int lines = 0; reader.ReadLine(line); ++lines) {
    EXPECT_TRUE(line.empty());
    ASSERT_LT(lines, 1);
  }
}

TEST(TextFileRead, LongLinesAndBlockBoundaries) {
  std::string longLine;
  for (int i = 0; i < 5000; ++i) longLine += static_cast<char>('a' + i % 26);
  std::string sequence;
  for (int i = 0; i < 3000; ++i) sequence += "\xE4\xBD\xA0";
  for (size_t block : {size_t{16}, size_t{1023}, size_t{1024}, size_t{1025}}) {
    ReadResult r = ReadAll(longLine + "\r\n" + sequence, block);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0], longLine);
    EXPECT_EQ(r.lines[1], sequence);  // no sequence is split at a block boundary
  }
}

// The lines CUtf8Lines cuts text into; it always reaches the end.
std::vector<std::string> CutLines(std::string_view text) {
  std::vector<std::string> got;
  CUtf8Lines lines(text);
  std::string_view line;
  std::string scratch;
  while (lines.Next(&line, &scratch)) got.emplace_back(line);
  EXPECT_EQ(lines.Consumed(), text.size());
  return got;
}

// The file reader's lines of text as CUtf8Lines gives them: after a final break the
// reader gives one more, empty line, which holds no entry.
std::vector<std::string> WithoutFinalEmptyLine(std::vector<std::string> lines,
                                               std::string_view text) {
  if (text.empty() || text.back() == '\r' || text.back() == '\n') {
    EXPECT_TRUE(!lines.empty() && lines.back().empty());
    if (!lines.empty()) lines.pop_back();
  }
  return lines;
}

// A list read whole is cut into the very lines the file reader gives, cleaned alike: every
// kind of break, NUL characters, invalid UTF-8, and texts long enough for the fast path.
TEST(Utf8Lines, SameLinesAsTheFileReader) {
  const std::string pieces[] = {"word", " ", "\t", ",", "\r", "\n", "\r\n", std::string(1, '\0'),
                                "\xE4\xBD\xA0", "\xC3\xA9", "\xFF", "\xE4\xBD", "\x80", "\"q,\""};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const size_t length = round < 290 ? random() % 120 : 200000;
    // Most rounds keep to valid text, so that a whole-text check passes and is relied on.
    const size_t kinds = round % 3 == 0 ? std::size(pieces) : std::size(pieces) - 4;
    while (text.size() < length) text += pieces[random() % kinds];

    ASSERT_EQ(CutLines(text), WithoutFinalEmptyLine(ReadAll("\xEF\xBB\xBF" + text, 64).lines, text))
        << "round " << round;
  }
}

// A UTF-16 list converted whole gives, cut into lines, the lines of the file reader:
// surrogate pairs, lone surrogates, NUL units (also between the halves of a pair), every
// kind of break and an odd last byte, in both byte orders, across block boundaries, read
// whole or in pieces.
TEST(Utf8Lines, Utf16ConvertedWholeGivesTheReadersLines) {
  const std::u16string pieces[] = {u"a", u"\t", u"\r", u"\n", u"\r\n", std::u16string(1, u'\0'),
                                   u"\u4F60", u"\u00E9", u"\U0001F600", std::u16string(1, char16_t{0xD83D}),
                                   std::u16string(1, char16_t{0xDE00}),
                                   std::u16string{char16_t{0xD83D}, 0, char16_t{0xDE00}}};
  std::mt19937 random(16);
  for (int round = 0; round < 200; ++round) {
    std::u16string units;
    // The last rounds pass a 1 MiB block, with longer lines (breaks are pieces 2 to 4).
    const bool big = round >= 197;
    const size_t length = big ? 700000 : random() % 100;
    while (units.size() < length) {
      const size_t piece = random() % std::size(pieces);
      if (!big || piece < 2 || piece > 4 || random() % 16 == 0) units += pieces[piece];
    }
    const bool little = round % 2 == 0;
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : units) {
      const char low = static_cast<char>(unit & 0xFF);
      const char high = static_cast<char>(unit >> 8);
      bytes += little ? std::string{low, high} : std::string{high, low};
    }
    if (round % 5 == 0) bytes += 'x';  // an odd last byte

    lumo_test::TempDir dir;
    lumo_test::WriteBytes(dir.File(L"list.txt"), bytes);
    platform::CFile file;
    ASSERT_TRUE(file.Open(dir.File(L"list.txt")));
    CTextFileRead reader(&file);
    // Whole, or in pieces of odd sizes that split code units and surrogate pairs.
    std::string text;
    do {
      const size_t piece = round % 3 == 0 ? bytes.size() : 1 + random() % (big ? 100000 : 7);
      std::string part(CTextFileRead::Utf8Room(piece + 1) + 3, '\0');
      const std::ptrdiff_t size = reader.ReadRemainderAsUtf8(part.data(), piece);
      ASSERT_GE(size, 0);
      text.append(part, 0, static_cast<size_t>(size));
    } while (!reader.IsEndOfFile());
    EXPECT_TRUE(IsValidUtf8(text));
    ASSERT_EQ(CutLines(text), WithoutFinalEmptyLine(ReadAll(bytes).lines, text))
        << "round " << round;
  }
}

TEST(Utf8Lines, CutAfterABreak) {
  EXPECT_EQ(LineBoundaryAfter("ab\r\ncd", 0), 4u);  // a CR LF stays whole
  EXPECT_EQ(LineBoundaryAfter("ab\r\ncd", 3), 4u);
  EXPECT_EQ(LineBoundaryAfter("ab\rcd\n", 3), 6u);
  EXPECT_EQ(LineBoundaryAfter("abcd", 1), 4u);
  EXPECT_EQ(LineBoundaryAfter("", 0), 0u);
}

TEST(TextFileRead, NoFile) {
  CTextFileRead none(nullptr);
  std::string line = "untouched";
  EXPECT_TRUE(none.IsEndOfFile());
  EXPECT_FALSE(none.ReadLine(line));
  EXPECT_EQ(line, "untouched");

  platform::CFile closed;
  CTextFileRead reader(&closed);
  EXPECT_TRUE(reader.IsEndOfFile());
}

}  // namespace
