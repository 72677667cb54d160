#include "mdict/mdict_text.h"

#include <algorithm>

#include "common/utf.h"
#include "platform/text_convert.h"
#include "textio/markup_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

// The value of a run of digits of at most nine (so that it fits); false for none or more.
bool SmallNumber(std::string_view digits, uint32_t* value) {
  if (digits.empty() || digits.size() > 9) return false;
  uint32_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  *value = n;
  return true;
}

// The code point of the numeric reference body ("#65", "#x41"), or false.
bool NumericReference(std::string_view body, char32_t* code) {
  if (body.size() < 2 || body[0] != '#') return false;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t value = 0;
  for (const char c : digits) {
    uint32_t d;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<uint32_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
    value = value * (hex ? 16 : 10) + d;
  }
  if (value == 0 || value > 0x10FFFF) return false;
  *code = value;
  return true;
}

char32_t LowerCase(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c < 0x100) return c;
  // Latin Extended-A: upper and lower case side by side, the upper first from an even or
  // an odd place by stretch.
  if ((c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177)) return c % 2 == 0 ? c + 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1 ? c + 1 : c;
  if (c == 0x130) return U'i';
  if (c == 0x178) return 0xFF;
  // Greek, with the accented capitals apart.
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  // Cyrillic.
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  // Latin Extended Additional (Vietnamese among others): pairs from an even place.
  if (((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) && c % 2 == 0) return c + 1;
  // Full-width Latin.
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out.push_back(text[i]);
      continue;
    }
    const size_t semicolon = text.find(';', i + 1);
    if (semicolon == std::string_view::npos || semicolon - i > 12) {
      out.push_back('&');
      continue;
    }
    const std::string_view body = text.substr(i + 1, semicolon - i - 1);
    char32_t code = 0;
    if (body == "lt")
      code = U'<';
    else if (body == "gt")
      code = U'>';
    else if (body == "amp")
      code = U'&';
    else if (body == "quot")
      code = U'"';
    else if (body == "apos")
      code = U'\'';
    else if (!NumericReference(body, &code)) {
      out.push_back('&');
      continue;
    }
    AppendUtf8(&out, code);
    i = semicolon;
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> HeaderAttributes(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> attributes;
  size_t at = 0;
  while (at < text.size()) {
    if (!IsNameStart(text[at])) {
      ++at;
      continue;
    }
    const size_t nameStart = at;
    while (at < text.size() && IsNameChar(text[at])) ++at;
    const std::string_view name = text.substr(nameStart, at - nameStart);
    size_t next = at;
    while (next < text.size() && IsBlank(text[next])) ++next;
    if (next >= text.size() || text[next] != '=') continue;  // the element's name, say
    ++next;
    while (next < text.size() && IsBlank(text[next])) ++next;
    if (next >= text.size()) break;
    std::string_view value;
    if (text[next] == '"' || text[next] == '\'') {
      const size_t close = text.find(text[next], next + 1);
      const size_t end = close == std::string_view::npos ? text.size() : close;
      value = text.substr(next + 1, end - next - 1);
      at = end == text.size() ? end : end + 1;
    } else {
      // An unquoted value runs to a blank or the end of the element.
      size_t end = next;
      while (end < text.size() && !IsBlank(text[end]) && text[end] != '>' &&
             !(text[end] == '/' && end + 1 < text.size() && text[end + 1] == '>'))
        ++end;
      value = text.substr(next, end - next);
      at = end;
    }
    attributes.emplace_back(std::string(name), DecodeEntities(value));
  }
  return attributes;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool LinkTarget(std::string_view record, std::string_view* target) {
  constexpr std::string_view kLink = "@@@LINK=";
  if (!record.starts_with(kLink)) return false;
  record.remove_prefix(kLink.size());
  *target = TrimBlanks(record.substr(0, record.find_first_of("\r\n")));
  return true;
}

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c));
      ++at;
      continue;
    }
    AppendUtf8(&out, LowerCase(DecodeUtf8(text, &at)));
  }
  return out;
}

std::string Gb18030ToUtf8ThroughGbk(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto digit = [](unsigned char c) { return c >= 0x30 && c <= 0x39; };
  const auto high = [](unsigned char c) { return c >= 0x81 && c <= 0xFE; };
  std::string out;
  size_t run = 0;  // where the bytes for code page 936 begin
  for (size_t at = 0; at < bytes.size();) {
    if (!high(b[at])) {
      ++at;
      continue;
    }
    if (bytes.size() - at >= 4 && digit(b[at + 1]) && high(b[at + 2]) && digit(b[at + 3])) {
      out += platform::AnsiToUtf8(bytes.substr(run, at - run), 936);
      const uint32_t linear =
          ((static_cast<uint32_t>(b[at] - 0x81) * 10 + (b[at + 1] - 0x30)) * 126 + (b[at + 2] - 0x81)) * 10 +
          (b[at + 3] - 0x30);
      // The planes beyond the first begin at 90 30 81 30, one code point per step.
      constexpr uint32_t kFirstBeyond = ((0x90 - 0x81) * 10 * 126) * 10;
      const uint32_t code = linear >= kFirstBeyond ? 0x10000 + (linear - kFirstBeyond) : 0;
      AppendUtf8(&out, code >= 0x10000 && code <= 0x10FFFF ? code : kReplacementChar);
      at += 4;
      run = at;
      continue;
    }
    at += std::min<size_t>(2, bytes.size() - at);  // a two-byte character stays whole
  }
  out += platform::AnsiToUtf8(bytes.substr(run), 936);
  return out;
}

CStyleSheet::CStyleSheet(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  for (size_t i = 0; i < lines.size();) {
    // Blank lines between the groups are passed over; anything else where a number
    // belongs ends the sheet, as the groups after it could not be told apart.
    const std::string_view numberLine = TrimBlanks(lines[i]);
    if (numberLine.empty()) {
      ++i;
      continue;
    }
    uint32_t number = 0;
    if (!SmallNumber(numberLine, &number)) break;
    Style style{number, {}, {}, {}, {}};
    if (i + 1 < lines.size()) style.begin = lines[i + 1];
    if (i + 2 < lines.size()) style.end = lines[i + 2];
    style.plainBegin = MarkupToText(style.begin);
    style.plainEnd = MarkupToText(style.end);
    i += 3;
    m_styles.push_back(std::move(style));
  }
  // By number; of a number defined twice, the first definition holds.
  std::stable_sort(m_styles.begin(), m_styles.end(),
                   [](const Style& a, const Style& b) { return a.number < b.number; });
  m_styles.erase(std::unique(m_styles.begin(), m_styles.end(),
                             [](const Style& a, const Style& b) { return a.number == b.number; }),
                 m_styles.end());
}

const CStyleSheet::Style* CStyleSheet::Find(uint32_t number) const {
  const auto it = std::lower_bound(m_styles.begin(), m_styles.end(), number,
                                   [](const Style& s, uint32_t n) { return s.number < n; });
  return it != m_styles.end() && it->number == number ? &*it : nullptr;
}

void CStyleSheet::Expand(std::string_view record, bool plainStyles, std::string* out) const {
  const Style* current = nullptr;
  const auto end = [&] {
    if (current) *out += plainStyles ? current->plainEnd : current->end;
    current = nullptr;
  };
  size_t copied = 0;
  for (size_t at = record.find('`'); at != std::string_view::npos; at = record.find('`', at)) {
    const size_t close = record.find('`', at + 1);
    uint32_t number = 0;
    if (close == std::string_view::npos) break;
    if (!SmallNumber(record.substr(at + 1, close - at - 1), &number)) {
      at = close;  // the closing one may open a marker
      continue;
    }
    out->append(record.substr(copied, at - copied));
    end();
    current = Find(number);
    if (current) *out += plainStyles ? current->plainBegin : current->begin;
    at = copied = close + 1;
  }
  out->append(record.substr(copied));
  end();
}
