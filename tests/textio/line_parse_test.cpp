#include <gtest/gtest.h>

#include <optional>
#include <string>

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

TEST(LineParse, AnsiToUtf8) {
  std::string out = "stale";
  EXPECT_FALSE(AnsiToUtf8("", &out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(AnsiToUtf8("plain", &out));
  EXPECT_EQ(out, "plain");
}

}  // namespace
