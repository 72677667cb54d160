#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "common/utf.h"
#include "platform/text_convert.h"
#include "textio/line_parse.h"

namespace {

struct Parsed {
  std::string word;
  std::string explanation;
  bool operator==(const Parsed&) const = default;
};

std::optional<Parsed> Parse(std::string_view line) {
  LineFields fields;
  if (!SplitLine(line, &fields)) return std::nullopt;
  return Parsed{std::string(TrimFieldChars(fields.first)),
                std::string(TrimFieldChars(fields.second))};
}

TEST(LineParse, SplitAndTrim) {
  struct Case {
    const char* line;
    std::optional<Parsed> expected;
  } cases[] = {
      {"apple\tred fruit", Parsed{"apple", "red fruit"}},
      {"apple,red fruit", Parsed{"apple", "red fruit"}},
      {"a,b,c", Parsed{"a", "b,c"}},
      {"a\tb,c", Parsed{"a", "b,c"}},
      {"\"New York, NY\",city", Parsed{"New York, NY", "city"}},
      {"word,\"one, two\"", Parsed{"word", "one, two"}},
      {"word,\"no closing quote", Parsed{"word", "no closing quote"}},
      {"it's,'quoted'", Parsed{"it's", "quoted"}},
      {"\"say \"\"hi\"\"\",greeting", Parsed{"say \"\"hi", "greeting"}},
      {"\"x\"y,z", Parsed{"x\"y", "z"}},
      {"  'tis \t  it is   ", Parsed{"tis", "it is"}},
      {"\" \",blank", Parsed{"\" \"", "blank"}},
      {"word\t", Parsed{"word", ""}},
      {"no separator here", std::nullopt},
      {"\"open quote, no end", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.line), c.expected) << c.line;
}

TEST(LineParse, TrimLeavesInsideAndMultiByteAlone) {
  std::string s = "\"'\t \xE4\xBD\xA0 \"x\" \xE5\xA5\xBD' \t";
  TrimFieldChars(&s);
  EXPECT_EQ(s, "\xE4\xBD\xA0 \"x\" \xE5\xA5\xBD");
  std::string only = "' \t\"";
  TrimFieldChars(&only);
  EXPECT_EQ(only, "' \t\"");
}

TEST(LineParse, UnescapeReadsTheFourEscapesAndLeavesTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\\nb\\tc\\rd\\\\e", "a\nb\tc\rd\\e"},
      {"\\\\n", "\\n"},                  // an escaped backslash, then a plain n
      {"\\x \\0 \\N \\", "\\x \\0 \\N \\"},  // unknown escapes and a backslash at the end
      {"\\\\\\", "\\\\"},
      {"", ""},
  };
  for (const auto& [field, meant] : cases) {
    std::string out = "stale";
    UnescapeField(field, &out);
    EXPECT_EQ(out, meant) << field;
    EXPECT_EQ(HoldsEscape(field), field.find('\\') != std::string::npos);
  }
}

// Every explanation over the characters that matter to escapes and trimming: the line
// FormatWordListLine writes reads back as the explanation once its escapes are read,
// unless it says it cannot, which only a NUL or a blank or quote at an end may cause; and
// as it is, unescaped, when it says exact.
TEST(LineParse, WrittenExplanationsReadBackUnescaped) {
  const std::string alphabet("a\\ntr \t\n\r\"'\0", 12);
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (size_t length = random() % 9; text.size() < length;) text += alphabet[random() % alphabet.size()];
    std::string line;
    const LineFidelity fidelity = FormatWordListLine("w", text, &line);
    const std::optional<Parsed> read = Parse(line);
    ASSERT_TRUE(read && read->word == "w") << line;
    std::string unescaped;
    UnescapeField(read->explanation, &unescaped);
    const auto trimmed = [](char c) { return c == ' ' || c == '"' || c == '\''; };
    const bool mayLose = text.find('\0') != std::string::npos ||
                         (!text.empty() && (trimmed(text.front()) || trimmed(text.back())));
    if (fidelity == LineFidelity::kChanged) {
      EXPECT_TRUE(mayLose) << "needlessly changed: " << line;
    } else {
      EXPECT_EQ(unescaped, text) << line;
    }
    if (fidelity == LineFidelity::kExact) {
      EXPECT_EQ(read->explanation, text) << line;
    }
  }
}

TEST(LineParse, AnsiToUtf8) {
  std::string out = "stale";
  EXPECT_FALSE(AnsiToUtf8("", &out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(AnsiToUtf8("plain", &out));
  EXPECT_EQ(out, "plain");

  // ASCII fields skip the conversion only where the code page leaves ASCII as it is: the
  // result is always the system's conversion.
  std::string everyAscii;
  for (int c = 1; c < 0x80; ++c) everyAscii += static_cast<char>(c);
  for (const unsigned codePage : {0u, 932u, 936u, 1252u, 65001u, 65000u, 52936u, 50220u}) {
    for (const std::string& field : {everyAscii, std::string("+AGE-x"), std::string("~{<:~}"),
                                    std::string("\x1B$B$\"\x1B(B"), std::string("a\xD6\xD0" "b")}) {
      SCOPED_TRACE(testing::Message() << "code page " << codePage << ", " << field);
      const std::string expected =
          WideToUtf8(codePage == 0 ? platform::AnsiToWide(field) : platform::AnsiToWide(field, codePage));
      EXPECT_EQ(AnsiToUtf8(field, &out, codePage), !expected.empty());
      EXPECT_EQ(out, expected);
    }
  }
}

}  // namespace
