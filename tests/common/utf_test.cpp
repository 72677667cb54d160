// UTF-8 decoding is complete and checked: every character has its one encoding, and each
// byte of a malformed sequence becomes one U+FFFD.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/text_arena.h"
#include "common/utf.h"

namespace {

TEST(Utf8, ValidAndInvalidSequences) {
  struct Case {
    const char* bytes;
    bool valid;
    const char* sanitized;
  } cases[] = {
      {"plain ascii text", true, "plain ascii text"},
      {"\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80", true, "\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80"},
      {"\xEF\xBF\xBD", true, "\xEF\xBF\xBD"},
      {"a\x80z", false, "a\xEF\xBF\xBDz"},                            // stray continuation
      {"\xC0\xA1", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong
      {"\xE0\x80\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong
      {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF4\x90\x80\x80x", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},
      {"\xE4\xBD", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // truncated at the end
      {"\xE4x\xA0", false, "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      {"12345678\xFF", false, "12345678\xEF\xBF\xBD"},  // after a whole ASCII word
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
    EXPECT_EQ(SanitizeUtf8(c.bytes), c.sanitized) << c.bytes;
  }
}

// Units are read in either byte order, high bytes without sign extension, lone
// surrogates and NULs as they are; an odd last byte is no unit.
TEST(Utf16Units, DecodedFromBytesInEitherOrder) {
  const auto le = Utf16ByteOrder::kLittleEndian;
  const auto be = Utf16ByteOrder::kBigEndian;
  struct Case {
    std::string bytes;
    Utf16ByteOrder order;
    std::u16string units;
  } cases[] = {
      {"", le, u""},
      {"x", le, u""},
      {std::string("A\0\x60\x4F", 4), le, u"A\u4F60"},
      {std::string("\0A\x4F\x60", 4), be, u"A\u4F60"},
      {"\xFF\xFE\x80", le, u"\uFEFF"},
      {"\xFF\xFE", be, u"\uFFFE"},
      {std::string("\x3D\xD8\0\0\x00\xDE", 6), le, {char16_t{0xD83D}, 0, char16_t{0xDE00}}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(DecodeUtf16Units(c.bytes, c.order) == c.units) << c.bytes.size() << " bytes";
    std::u16string into(c.bytes.size() / 2, u'?');
    EXPECT_EQ(DecodeUtf16Units(c.bytes, c.order, into.data()), c.units.size());
    EXPECT_TRUE(into == c.units);
  }
}

// Well-formed UTF-8 straight from the table of well-formed byte sequences.
bool WellFormed(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) length = 2;
    else if (b == 0xE0) length = 3, low = 0xA0;
    else if (b == 0xED) length = 3, high = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) length = 3;
    else if (b == 0xF0) length = 4, low = 0x90;
    else if (b == 0xF4) length = 4, high = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) length = 4;
    else return false;
    if (i + length > s.size()) return false;
    const unsigned char second = static_cast<unsigned char>(s[i + 1]);
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// Long texts are checked many bytes at a time: mostly valid text of every length around
// the block sizes, with one damaged or boundary byte at every kind of place, must get the
// verdict of the table.
TEST(Utf8, LongTextsGetTheVerdictOfTheTable) {
  const std::string pieces[] = {"a", "\n", "\xC3\xA9", "\xE4\xBD\xA0", "\xF0\x9F\x98\x80",
                                "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF"};
  const unsigned char odd[] = {0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                               0xF4, 0xF5, 0xF8, 0xFF, 0xA0, 0x90, 0x8F, 0x00};
  std::mt19937 random(2026);
  int invalid = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const size_t target = random() % 200;
    while (text.size() < target) text += pieces[random() % std::size(pieces)];
    if (round % 4 != 0 && !text.empty()) text[random() % text.size()] = static_cast<char>(odd[random() % std::size(odd)]);
    if (round % 7 == 0 && !text.empty()) text.pop_back();  // maybe cut a sequence short
    const bool expected = WellFormed(text);
    invalid += !expected;
    ASSERT_EQ(IsValidUtf8(text), expected) << "round " << round << ", " << text.size() << " bytes";
  }
  EXPECT_GT(invalid, 5000);  // both verdicts were exercised
  EXPECT_LT(invalid, 19000);
}

TEST(Utf8, RoundTripsThroughUtf16AndWide) {
  const std::string text = "a\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80";
  const std::u16string utf16 = Utf8ToUtf16(text);
  EXPECT_EQ(utf16, u"a\u00E9\u4F60\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(utf16), text);
  EXPECT_EQ(WideToUtf8(Utf8ToWideText(text)), text);
  EXPECT_EQ(WideToUtf16(Utf8ToWideText(text)), utf16);
  // A lone surrogate cannot be encoded and becomes U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
}

TEST(TextArena, StoredTextsStayPut) {
  CTextArena arena(64);
  std::vector<std::string_view> views;
  std::vector<std::string> originals;
  for (int i = 0; i < 200; ++i) {
    originals.push_back(std::string(static_cast<size_t>(i % 40), static_cast<char>('a' + i % 26)));
    views.push_back(arena.Store(originals.back()));
  }
  for (size_t i = 0; i < views.size(); ++i) EXPECT_EQ(views[i], originals[i]);
  EXPECT_TRUE(arena.Store("").empty());
}

}  // namespace
