// The word-list reader: encoding detection and line splitting, read through real files
// with small and default block sizes so that block boundaries fall inside lines, marks
// and multi-byte sequences.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/file.h"
#include "platform/text_convert.h"
#include "tests/support/test_support.h"
#include "textio/text_file.h"

namespace {

struct ReadResult {
  TextEncoding encoding;
  std::vector<std::string> lines;
  bool text = true;
  bool nonAscii = false;
  // Each line's repairs: characters replaced, then NULs dropped.
  std::vector<std::pair<uint32_t, uint32_t>> repairs;
};

ReadResult ReadAll(const std::string& bytes, size_t blockSize = CTextFileRead::kDefaultBlockSize,
                   unsigned codePage = 0) {
  lumo_test::TempDir dir;
  const std::wstring path = dir.File(L"list.txt");
  lumo_test::WriteBytes(path, bytes);
  platform::CFile file;
  EXPECT_TRUE(file.Open(path));
  CTextFileRead reader(&file, blockSize, nullptr, std::nullopt, codePage);
  ReadResult result{reader.GetEncoding(), {}, reader.IsText(), false, {}};
  std::string line;
  while (!reader.IsEndOfFile()) {
    EXPECT_TRUE(reader.ReadLine(line));
    result.lines.push_back(line);
    result.repairs.emplace_back(reader.LastLineRepairs().bytesReplaced, reader.LastLineRepairs().nulsDropped);
    result.nonAscii = reader.SawNonAscii();
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
  EXPECT_EQ(r.repairs[0], std::make_pair(1u, 1u));  // the lone surrogate and the NUL
}

// What a list's start decides, by what the whole of it shows (up to 16 MiB): its encoding,
// whether it is text at all, and whether it holds more than ASCII.
TEST(TextFileRead, EncodingAndTextFromTheStart) {
  // Chinese explanations in UTF-8, and the same in GBK.
  std::string utf8List, gbkList;
  for (int i = 0; i < 200; ++i) {
    utf8List += "word" + std::to_string(i) + "\t\xE5\x92\x96\xE5\x95\xA1\xE9\xA6\x86\n";  // 咖啡馆
    gbkList += "word" + std::to_string(i) + "\t\xBF\xA7\xB7\xC8\xB9\xDD\n";
  }
  const std::string english(5000, 'e');
  std::string sure;  // 34 sequences: enough to be certain once, and now outweighed
  for (int i = 0; i < 34; ++i) sure += "\xE4\xBD\xA0";
  // GBK whose first 40 characters happen to be well-formed UTF-8 pairs (苹, C6 BB).
  std::string luckyGbk;
  for (int i = 0; i < 40; ++i) luckyGbk += "\xC6\xBB";
  luckyGbk += "\tx\n" + gbkList;
  // Compressed data: bytes as good as random, with their NULs and control characters.
  std::mt19937 random(5);
  std::string compressed(4096, '\0');
  for (char& c : compressed) c = static_cast<char>(random());
  std::string sparseNuls;  // a stray NUL every 200 lines of text
  for (int i = 0; i < 2000; ++i) sparseNuls += (i % 200 == 7 ? std::string("n\0ul,x\n", 7) : "line" + std::to_string(i) + ",x\n");
  const auto utf16 = [](const std::u16string& text, bool little) {
    std::string bytes;
    for (const char16_t unit : text) {
      const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
      bytes += little ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
  };
  std::u16string chinese16;  // 一 (U+4E00) puts a NUL at the other offsets
  for (int i = 0; i < 50; ++i) chinese16 += u"\u4E00\u4E2A\u82F9\u679C\t\u6C34\u679C\r\n";
  const std::string png = "\x89PNG\r\n\x1A\n" + std::string("\0\0\0\x0DIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0", 21) + compressed;

  struct Case {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
    bool text;
    bool nonAscii;
  } const cases[] = {
      {"ASCII", english, TextEncoding::Utf8, true, false},
      {"empty", "", TextEncoding::Utf8, true, false},
      {"UTF-8", "\xE4\xBD\xA0\xE5\xA5\xBD,hello", TextEncoding::Utf8, true, true},
      {"UTF-8, four bytes", "\xF0\x9F\x98\x80,smile", TextEncoding::Utf8, true, true},
      {"GBK after English lines", english + "\n\xD6\xD0,\xCE\xC4", TextEncoding::Ansi, true, true},
      {"GBK list", gbkList, TextEncoding::Ansi, true, true},
      {"overlong forms are no UTF-8", "\xC0\xA1,x", TextEncoding::Ansi, true, true},
      {"EF BB without BF is no mark", "\xEF\xBB\x41,b", TextEncoding::Ansi, true, true},
      {"Latin-1", "caf\xE9\tcoffee\nna\xEFve\tnaive\n", TextEncoding::Ansi, true, true},
      {"a stray byte in line 2 of UTF-8", "apple\t\xE8\x8B\xB9\xE6\x9E\x9C\ncaf\xE9\tcoffee house\n" + utf8List,
       TextEncoding::Utf8, true, true},
      {"a stray byte after 34 sequences", sure + "\n\xFF\xE4\xBD", TextEncoding::Utf8, true, true},
      {"GBK that starts as UTF-8 pairs", luckyGbk, TextEncoding::Ansi, true, true},
      {"ends inside a sequence", "ab\xE4\xBD", TextEncoding::Utf8, true, true},
      // Past 16 MiB of ASCII the file is taken as it would be at its end.
      {"GBK after 16 MiB", std::string(16 << 20, 'e') + "\n\xD6\xD0,\xCE\xC4", TextEncoding::Utf8, true, true},
      {"a stray NUL", std::string("a\0b,c\nd,e\n", 10), TextEncoding::Utf8, true, false},
      {"stray NULs far apart", sparseNuls, TextEncoding::Utf8, true, false},
      {"Ctrl+Z at the end", "a,b\r\nc,d\r\n\x1A", TextEncoding::Utf8, true, false},
      {"form feeds", "a,b\f\nc,d\f\n", TextEncoding::Utf8, true, false},
      {"control characters", "a\x01,b\x02\nc\x03,d\x04\x05\n", TextEncoding::Utf8, false, false},
      {"PNG", png, TextEncoding::Ansi, false, true},
      {"ZIP", "PK\x03\x04" + std::string("\x14\0\0\0\x08\0", 6) + compressed, TextEncoding::Ansi, false, true},
      {"program", "MZ\x90" + std::string(61, '\0') + "This program cannot be run in DOS mode.\r\r\n$" + std::string(64, '\0'),
       TextEncoding::Ansi, false, true},
      {"UTF-16LE without a mark", utf16(u"apple\tred\nbee\tinsect\n", true), TextEncoding::Utf16LE, true, false},
      {"UTF-16BE without a mark", utf16(u"apple\tred\nbee\tinsect\n", false), TextEncoding::Utf16BE, true, false},
      {"UTF-16LE Chinese without a mark", utf16(chinese16, true), TextEncoding::Utf16LE, true, true},
      {"UTF-16LE with its mark and NUL units", "\xFF\xFE" + utf16(std::u16string(20, u'\0'), true), TextEncoding::Utf16LE, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = ReadAll(c.bytes, c.bytes.size() > (1 << 20) ? size_t{1} << 20 : 4093);
    EXPECT_EQ(r.encoding, c.encoding);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.nonAscii, c.nonAscii);
  }
  // The stray byte is replaced and counted, the rest of the list read as it is.
  const ReadResult stray = ReadAll("apple,x\ncaf\xE9\tcoffee house\n" + utf8List);
  EXPECT_EQ(stray.lines[1], "caf\xEF\xBF\xBD\tcoffee house");
  EXPECT_EQ(stray.repairs[1], std::make_pair(1u, 0u));
  EXPECT_EQ(stray.lines[2], "word0\t\xE5\x92\x96\xE5\x95\xA1\xE9\xA6\x86");
  EXPECT_EQ(ReadAll(sure + "\n\xFF\xE4\xBD", 16).lines.back(), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  // An ANSI line is handed out as it stands; the bytes its code page cannot map (a lead
  // byte cut short, one with no valid second byte) are its repairs.
  const ReadResult gbk = ReadAll("\xD6\xD0,\xCE\xC4\n\xD6\xD0,\xCE\n\xB9\xFB,x\x81\x7F\n", 4093, 936);
  EXPECT_EQ(gbk.encoding, TextEncoding::Ansi);
  EXPECT_EQ(gbk.lines[1], "\xD6\xD0,\xCE");
  EXPECT_EQ(gbk.repairs, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {1, 0}, {1, 0}, {0, 0}}));
}

// An ANSI line's repairs are the bytes the system's own conversion replaces, in single-
// and double-byte code pages alike: random lines of high bytes, read line by line, against
// the conversion of each line.
TEST(TextFileRead, AnsiRepairsAreTheBytesTheCodePageCannotMap) {
  std::mt19937 random(936);
  for (const unsigned codePage : {936u, 932u, 950u, 949u, 1252u, 1251u}) {
    if (!platform::IsCodePageSupported(codePage)) continue;
    SCOPED_TRACE(codePage);
    std::string text;
    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) {
      std::string line;
      for (size_t n = random() % 24; n > 0; --n)
        line += random() % 3 == 0 ? static_cast<char>('@' + random() % 60) : static_cast<char>(0x80 + random() % 128);
      lines.push_back(line);
      text += line + "\n";
    }
    const ReadResult r = ReadAll("\xFF\xFF\xFF\n" + text, 4093, codePage);
    ASSERT_EQ(r.encoding, TextEncoding::Ansi);
    ASSERT_EQ(r.lines.size(), lines.size() + 2);
    for (size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(r.repairs[i + 1].first, platform::AnsiUnmappedBytes(lines[i], codePage)) << "line " << i;
  }
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
std::vector<std::string> CutLines(std::string_view text,
                                  std::vector<std::pair<uint32_t, uint32_t>>* repairs = nullptr) {
  std::vector<std::string> got;
  CUtf8Lines lines(text);
  std::string_view line;
  std::string scratch;
  while (lines.Next(&line, &scratch)) {
    got.emplace_back(line);
    if (repairs) repairs->emplace_back(lines.Repairs().bytesReplaced, lines.Repairs().nulsDropped);
  }
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
    // Each lone surrogate is replaced and counted alike both ways; the pieces hold no
    // U+FFFD of their own, so every one in the lines is a repair.
    ReadResult read = ReadAll(bytes);
    std::vector<std::pair<uint32_t, uint32_t>> repairs;
    const std::vector<std::string> lines = CutLines(text, &repairs);
    ASSERT_EQ(lines, WithoutFinalEmptyLine(read.lines, text)) << "round " << round;
    read.repairs.resize(repairs.size());
    EXPECT_EQ(repairs, read.repairs) << "round " << round;
    size_t replaced = 0, counted = 0;
    for (const std::string& line : lines)
      for (size_t at = line.find("\xEF\xBF\xBD"); at != std::string::npos; at = line.find("\xEF\xBF\xBD", at + 3)) ++replaced;
    for (const auto& [characters, nuls] : repairs) counted += characters;
    EXPECT_EQ(counted, replaced) << "round " << round;
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
