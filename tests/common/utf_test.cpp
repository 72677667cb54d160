// UTF-8 decoding is complete and checked: every character has its one encoding, and each
// byte of a malformed sequence becomes one U+FFFD.

#include <gtest/gtest.h>

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
