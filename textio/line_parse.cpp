#include "textio/line_parse.h"

#include <algorithm>

#include "common/utf.h"
#include "platform/text_convert.h"

bool SplitLine(std::string_view line, LineFields* fields) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') {
      // A quoted stretch hides separators; without its closing quote the line has none.
      const size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      i = close + 1;
      continue;
    }
    if (c == '\t' || c == ',') {
      fields->first = line.substr(0, i);
      fields->second = line.substr(i + 1);
      return true;
    }
    ++i;
  }
  return false;
}

LineProblem SplitProblem(std::string_view line) {
  // SplitLine fails at a quote without its partner, or at the line's end.
  for (size_t i = line.find('"'); i != std::string_view::npos; i = line.find('"', i + 1)) {
    const size_t close = line.find('"', i + 1);
    if (close == std::string_view::npos) return LineProblem::kUnclosedQuote;
    i = close;
  }
  return LineProblem::kNoSeparator;
}

namespace {

// Code pages whose bytes below 0x80 are ASCII wherever they stand: the system's and the
// ANSI code pages of Windows. Not so EBCDIC, nor the 7-bit encodings (UTF-7, ISO-2022, HZ),
// in which ASCII bytes shift into other characters.
bool KeepsAscii(unsigned codePage) {
  return codePage == 0 || codePage == 874 || codePage == 932 || codePage == 936 ||
         codePage == 949 || codePage == 950 || (codePage >= 1250 && codePage <= 1258) ||
         codePage == 65001;
}

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

bool AnsiToUtf8(std::string_view field, std::string* out, unsigned codePage) {
  out->clear();
  if (field.empty()) return false;
  // Most fields of most lists are ASCII, which converts to itself.
  if (KeepsAscii(codePage) && IsAscii(field)) {
    out->assign(field);
    return true;
  }
  *out = platform::AnsiToUtf8(field, codePage);
  return !out->empty();
}

std::string_view TrimFieldChars(std::string_view field, std::string_view trimSet) {
  const size_t last = field.find_last_not_of(trimSet);
  if (last == std::string_view::npos) return field;  // empty, or trim characters only
  const size_t first = field.find_first_not_of(trimSet);
  return field.substr(first, last - first + 1);
}

void TrimFieldChars(std::string* field, std::string_view trimSet) {
  const std::string_view trimmed = TrimFieldChars(std::string_view(*field), trimSet);
  if (trimmed.size() == field->size()) return;
  *field = std::string(trimmed);
}

namespace {

// What the word-list reader and parser make of one line of a UTF-8 file.
bool ReadsBackAs(const std::string& line, std::string_view headword,
                 std::string_view explanation) {
  LineFields fields;
  if (!SplitLine(line, &fields) || fields.first.empty()) return false;
  return TrimFieldChars(fields.first) == headword && TrimFieldChars(fields.second) == explanation;
}

// A line break inside a field is written as the two characters \n (\r for a CR), which
// a reader sees and a line cannot hold otherwise; a NUL is left out.
std::string Printable(std::string_view field) {
  std::string out;
  for (char c : field) {
    if (c == '\0') continue;
    if (c == '\n' || c == '\r') out += c == '\n' ? "\\n" : "\\r";
    else out.push_back(c);
  }
  return out;
}

}  // namespace

bool FormatWordListLine(std::string_view headword, std::string_view explanation,
                        std::string* line) {
  const std::string word = Printable(headword);
  const std::string text = Printable(explanation);
  const bool clean = word == headword && text == explanation &&
                     IsValidUtf8(headword) && IsValidUtf8(explanation);
  const bool oddQuotes = std::count(word.begin(), word.end(), '"') % 2 != 0;
  const std::string closing = oddQuotes ? "\"" : "";
  const std::string candidates[] = {word, word + closing, "\"" + word + "\"" + closing};
  for (const std::string& field : candidates) {
    std::string candidate = field + '\t' + text;
    if (ReadsBackAs(candidate, word, text)) {
      *line = std::move(candidate);
      return clean;
    }
  }
  *line = word + '\t' + text;
  return false;
}
