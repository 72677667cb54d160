// Conversions through the ANSI code page. The AnsiCp936 tests run with LANG=zh_CN.UTF-8
// (registered so in CMakeLists.txt): under Wine that makes code page 936 the system's, and
// natively the platform layer derives the same code page from the locale.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "common/utf.h"
#include "platform/text_convert.h"

namespace {

using platform::AnsiToWide;
using platform::WideToAnsi;

TEST(AnsiTest, AsciiRoundTripsInAnyCodePage) {
  const std::string ascii = "headword\texplanation, \"quoted\" 0123456789 ~";
  EXPECT_EQ(WideToAnsi(AnsiToWide(ascii)), ascii);
  EXPECT_EQ(AnsiToWide("abc"), L"abc");
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
  // U+0000 inside the text is carried through, not taken as its end.
  EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

// "中文词典" (Chinese dictionary) in GBK.
const std::wstring kChinese = L"\u4e2d\u6587\u8bcd\u5178";
const std::string kChineseGbk = "\xd6\xd0\xce\xc4\xb4\xca\xb5\xe4";

TEST(AnsiCp936, CodePageIs936) { EXPECT_EQ(platform::AnsiCodePage(), 936u); }

TEST(AnsiCp936, ChineseRoundTrips) {
  EXPECT_EQ(WideToAnsi(kChinese), kChineseGbk);
  EXPECT_EQ(AnsiToWide(kChineseGbk), kChinese);
  const std::string mixed = "apple\t" + kChineseGbk + " (n.)";
  EXPECT_EQ(WideToAnsi(AnsiToWide(mixed)), mixed);
  EXPECT_EQ(AnsiToWide(mixed), L"apple\t" + kChinese + L" (n.)");
}

TEST(AnsiCp936, CharactersMissingFromTheCodePageBecomeQuestionMarks) {
  // Thai KO KAI and Devanagari KA have no GBK form.
  EXPECT_EQ(WideToAnsi(L"a\u0e01b\u0915"), "a?b?");
  EXPECT_EQ(WideToAnsi(kChinese + L"\u0e01"), kChineseGbk + "?");
}

TEST(AnsiCp936, InvalidBytesAreReplacedAndTheRestKept) {
  // 0xFF is neither a single-byte character nor a lead byte in GBK.
  const std::wstring wide = AnsiToWide("a\xff" + kChineseGbk);
  ASSERT_EQ(wide.size(), 2 + kChinese.size());
  EXPECT_EQ(wide[0], L'a');
  EXPECT_NE(wide[1], L'\xff');
  EXPECT_EQ(wide.substr(2), kChinese);
}

// Every pair of bytes, after a character and as the end of the text, converts through the
// double-byte code pages to UTF-8 and counts at most its own two bytes as replaced (glibc's
// code page 949 once sent the conversion past the end of "\xA2\xE8").
TEST(AnsiTest, EveryPairOfBytesConvertsInDoubleByteCodePages) {
  for (const unsigned codePage : {932u, 936u, 949u, 950u}) {
    if (!platform::IsCodePageSupported(codePage)) continue;
    for (unsigned pair = 0x8000; pair < 0x10000; ++pair) {
      const char bytes[3] = {'a', static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
      const std::string_view text(bytes, 3);
      ASSERT_TRUE(IsValidUtf8(platform::AnsiToUtf8(text, codePage))) << codePage << " " << pair;
      ASSERT_LE(platform::AnsiUnmappedBytes(text, codePage), 2u) << codePage << " " << pair;
    }
  }
}

#ifndef _WIN32
// Natively the ANSI code page follows the locale variables as Wine derives it. Each case
// sets the variables for the duration of the test and restores them afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_old)
      setenv(m_name, m_old->c_str(), 1);
    else
      unsetenv(m_name);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

struct LocaleCase {
  const char* lcAll;
  const char* lcCtype;
  const char* lang;
  unsigned codePage;
};

class AnsiLocaleTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(AnsiLocaleTest, CodePageFollowsTheLocale) {
  const LocaleCase& c = GetParam();
  ScopedEnv all("LC_ALL", c.lcAll);
  ScopedEnv ctype("LC_CTYPE", c.lcCtype);
  ScopedEnv lang("LANG", c.lang);
  EXPECT_EQ(platform::AnsiCodePage(), c.codePage);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, AnsiLocaleTest,
    testing::Values(LocaleCase{nullptr, nullptr, "zh_CN.UTF-8", 936},
                    LocaleCase{nullptr, nullptr, "zh_TW.Big5", 950},
                    LocaleCase{nullptr, nullptr, "zh_HK.UTF-8", 950},
                    LocaleCase{nullptr, nullptr, "ja_JP.UTF-8", 932},
                    LocaleCase{nullptr, nullptr, "ko_KR.EUC-KR", 949},
                    LocaleCase{nullptr, nullptr, "ru_RU.UTF-8", 1251},
                    LocaleCase{nullptr, nullptr, "pl_PL", 1250},
                    LocaleCase{nullptr, nullptr, "th_TH.UTF-8", 874},
                    LocaleCase{nullptr, nullptr, "de_DE@euro", 1252},
                    LocaleCase{nullptr, nullptr, "C", 1252},
                    LocaleCase{nullptr, nullptr, nullptr, 1252},
                    // LC_ALL before LC_CTYPE before LANG; an empty one does not count.
                    LocaleCase{"ja_JP.UTF-8", "ko_KR.UTF-8", "zh_CN.UTF-8", 932},
                    LocaleCase{"", "ko_KR.UTF-8", "zh_CN.UTF-8", 949},
                    LocaleCase{"", "", "zh_CN.UTF-8", 936}));

TEST(AnsiLocaleTest, ConversionFollowsAChangeOfLocale) {
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv ctype("LC_CTYPE", nullptr);
  {
    ScopedEnv lang("LANG", "zh_CN.UTF-8");
    EXPECT_EQ(WideToAnsi(kChinese), kChineseGbk);
  }
  {
    ScopedEnv lang("LANG", "ja_JP.UTF-8");
    // "日本" in Shift_JIS.
    EXPECT_EQ(WideToAnsi(L"\u65e5\u672c"), "\x93\xfa\x96\x7b");
    EXPECT_EQ(AnsiToWide("\x93\xfa\x96\x7b"), L"\u65e5\u672c");
  }
  {
    ScopedEnv lang("LANG", "en_US.UTF-8");
    EXPECT_EQ(WideToAnsi(L"caf\u00e9 \u4e2d"), "caf\xe9 ?");
  }
}
#endif

}  // namespace
