#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/text_convert.h"
#include "textio/line_parse.h"
#include "textio/run_report.h"

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

// The report knows each entry's line however the lines that gave none fall, also when it
// was read in parts; entries folded into earlier ones join its lines in line order, and a
// full report takes none past its last line.
TEST(RunReport, EntriesKeepTheirLinesAndRepeatsJoinInLineOrder) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    CRunReport parts[2];
    std::vector<uint64_t> lines;  // of each entry
    const int count = 1 + static_cast<int>(random() % 3000);
    const int cut = static_cast<int>(random() % count);
    for (int line = 1; line <= count; ++line) {
      CRunReport& part = parts[line > cut];
      part.CountLine();
      // Entries on every line or every other, and lines without one anywhere.
      if (random() % 4 == 0 || (round % 2 == 0 && line % 2 == 0)) continue;
      part.CountEntry();
      lines.push_back(line);
    }
    parts[0].Append(std::move(parts[1]));
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(parts[0].LineOfEntry(i), lines[i]) << round << " " << i;
    EXPECT_EQ(parts[0].LineOfEntry(lines.size()), 0u);
  }

  CRunReport full;
  for (int line = 1; line <= 20000; ++line) {
    full.CountLine();
    if (line % 2 == 0) full.Skip(LineProblem::kNoSeparator, "x");
  }
  full.NoteRepeats(ReportReason::kMerged, 3,
                   {{1, ReportReason::kMerged, "a"}, {20000, ReportReason::kMerged, "b"}, {20001, ReportReason::kMerged, "c"}});
  EXPECT_EQ(full.MergedEntries(), 3u);
  ASSERT_EQ(full.Lines().size(), CRunReport::kReportedLines);
  EXPECT_EQ(full.Lines()[0].line, 1u);
  EXPECT_EQ(full.Lines()[0].reason, ReportReason::kMerged);
  EXPECT_EQ(full.Lines()[1].line, 2u);
  EXPECT_EQ(full.Lines().back().line, 19998u);
}

}  // namespace
