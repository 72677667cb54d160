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

void UnescapeField(std::string_view field, std::string* out) {
  out->clear();
  out->reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    const char next = i + 1 < field.size() ? field[i + 1] : '\0';
    const char meant = c != '\\' ? '\0'
                       : next == 'n' ? '\n'
                       : next == 'r' ? '\r'
                       : next == 't' ? '\t'
                       : next == '\\' ? '\\'
                                     : '\0';
    if (meant == '\0') {
      out->push_back(c);
    } else {
      out->push_back(meant);
      ++i;
    }
  }
}

namespace {

// What the word-list reader and parser make of one line of a UTF-8 file, with the
// explanation's escapes read when unescape is set.
bool ReadsBackAs(const std::string& line, std::string_view headword,
                 std::string_view explanation, bool unescape) {
  LineFields fields;
  if (!SplitLine(line, &fields) || fields.first.empty()) return false;
  if (TrimFieldChars(fields.first) != headword) return false;
  const std::string_view text = TrimFieldChars(fields.second);
  if (!unescape) return text == explanation;
  std::string unescaped;
  UnescapeField(text, &unescaped);
  return unescaped == explanation;
}

// A headword's line break is written as the two characters \n (\r for a CR), which a
// reader sees and a line cannot hold otherwise; a NUL is left out. Nothing reads these
// back: a headword is taken as it stands.
std::string Printable(std::string_view field) {
  std::string out;
  for (char c : field) {
    if (c == '\0') continue;
    if (c == '\n' || c == '\r') out += c == '\n' ? "\\n" : "\\r";
    else out.push_back(c);
  }
  return out;
}

// An explanation with what a line cannot hold, or trimming would take, written as the
// escapes UnescapeField reads; a NUL is left out.
std::string Escaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (c) {
      case '\0': break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t':
        if (i == 0 || i + 1 == text.size()) out += "\\t";
        else out.push_back(c);
        break;
      case '\\':
        // Doubled only where it would otherwise begin an escape.
        out += std::string_view("nrt\\\n\r\t").find(next) != std::string_view::npos ? "\\\\" : "\\";
        break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace

LineFidelity FormatWordListLine(std::string_view headword, std::string_view explanation,
                                std::string* line) {
  const std::string word = Printable(headword);
  const std::string text = Escaped(explanation);
  const bool valid = word == headword && IsValidUtf8(headword) && IsValidUtf8(explanation);
  const bool escaped = text != explanation;
  const bool oddQuotes = std::count(word.begin(), word.end(), '"') % 2 != 0;
  const std::string closing = oddQuotes ? "\"" : "";
  const std::string candidates[] = {word, word + closing, "\"" + word + "\"" + closing};
  for (const std::string& field : candidates) {
    std::string candidate = field + '\t' + text;
    if (ReadsBackAs(candidate, word, text, false)) {
      *line = std::move(candidate);
      if (!valid || !ReadsBackAs(*line, headword, explanation, true)) return LineFidelity::kChanged;
      return escaped ? LineFidelity::kEscaped : LineFidelity::kExact;
    }
  }
  *line = word + '\t' + text;
  return LineFidelity::kChanged;
}
