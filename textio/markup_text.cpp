#include "textio/markup_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/utf.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == ':';
}

// The longest element name looked for ("blockquote").
constexpr size_t kLongestName = 10;

// Elements that stand on lines of their own.
bool EndsBlock(std::string_view name) {
  static constexpr std::array<std::string_view, 22> kBlocks = {
      "p",  "div", "li", "tr",  "h1",  "h2", "h3", "h4",    "h5",         "h6",  "dd",
      "dt", "ul",  "ol", "pre", "table", "blockquote", "def", "ex", "article", "section", "hr"};
  return std::find(kBlocks.begin(), kBlocks.end(), name) != kBlocks.end();
}

// Elements whose content is not text for a reader.
bool HidesContent(std::string_view name) { return name == "script" || name == "style"; }

struct NamedEntity {
  std::string_view name;
  char32_t code;
};

constexpr NamedEntity kEntities[] = {
    {"amp", U'&'},      {"lt", U'<'},       {"gt", U'>'},       {"quot", U'"'},
    {"apos", U'\''},    {"nbsp", U' '},     {"copy", U'\u00A9'}, {"reg", U'\u00AE'},
    {"middot", U'\u00B7'}, {"hellip", U'\u2026'}, {"ndash", U'\u2013'}, {"mdash", U'\u2014'},
    {"lsquo", U'\u2018'}, {"rsquo", U'\u2019'}, {"ldquo", U'\u201C'}, {"rdquo", U'\u201D'},
    {"laquo", U'\u00AB'}, {"raquo", U'\u00BB'}, {"deg", U'\u00B0'}, {"times", U'\u00D7'},
    {"bull", U'\u2022'},  {"sect", U'\u00A7'},  {"para", U'\u00B6'}, {"shy", U'\u00AD'},
};

void AppendCodePoint(std::string* out, char32_t code) {
  char bytes[4];
  const char* end = EncodeUtf8(bytes, code);
  out->append(bytes, static_cast<size_t>(end - bytes));
}

// The code point of the reference at text[0] == '&' and its length, or false when it is
// no reference this reader knows (it is then kept as text).
bool DecodeReference(std::string_view text, char32_t* code, size_t* length) {
  const size_t semicolon = text.find(';', 1);
  if (semicolon == std::string_view::npos || semicolon > 12) return false;
  const std::string_view body = text.substr(1, semicolon - 1);
  *length = semicolon + 1;
  if (body.size() >= 2 && body[0] == '#') {
    const bool hex = body[1] == 'x' || body[1] == 'X';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    uint32_t value = 0;
    for (char c : digits) {
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (hex && Lower(c) >= 'a' && Lower(c) <= 'f') digit = Lower(c) - 'a' + 10;
      else return false;
      value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
      if (value > 0x10FFFF) return false;
    }
    // Nothing a text may not hold: no NUL, no surrogate halves.
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
    *code = static_cast<char32_t>(value);
    return true;
  }
  for (const NamedEntity& entity : kEntities) {
    if (entity.name == body) {
      *code = entity.code;
      return true;
    }
  }
  return false;
}

class CTextBuilder {
 public:
  explicit CTextBuilder(std::string* out) : m_out(*out) { m_out.clear(); }

  void Text(std::string_view text) {
    while (!text.empty()) {
      const size_t lineEnd = text.find('\n');
      const std::string_view run = text.substr(0, lineEnd);
      if (!run.empty()) {
        FlushBreaks();
        m_out.append(run);
      }
      if (lineEnd == std::string_view::npos) break;
      LineBreak();
      text.remove_prefix(lineEnd + 1);
    }
  }
  void CodePoint(char32_t code) {
    FlushBreaks();
    AppendCodePoint(&m_out, code);
  }
  // Breaks are held back until text follows, so that none ends the text and no more than
  // two come together.
  void LineBreak() {
    if (!m_out.empty()) m_breaks = std::min(m_breaks + 1, 2);
  }
  void BlockEnd() {
    if (!m_out.empty() && m_breaks == 0) m_breaks = 1;
  }

 private:
  void FlushBreaks() {
    if (m_breaks == 0) return;
    m_out.append(static_cast<size_t>(m_breaks), '\n');
    m_breaks = 0;
  }

  std::string& m_out;
  int m_breaks = 0;
};

}  // namespace

std::string MarkupToText(std::string_view markup) {
  std::string text;
  MarkupToText(markup, &text);
  return text;
}

void MarkupToText(std::string_view markup, std::string* out) {
  CTextBuilder text(out);
  size_t i = 0;
  std::string_view hiddenUntil;  // the element whose content is being passed over
  while (i < markup.size()) {
    const char c = markup[i];
    if (c == '<') {
      if (markup.substr(i, 4) == "<!--") {
        const size_t end = markup.find("-->", i + 4);
        i = end == std::string_view::npos ? markup.size() : end + 3;
        continue;
      }
      const size_t close = markup.find('>', i + 1);
      // A '<' that opens no tag is text.
      size_t at = i + 1;
      const bool ending = at < markup.size() && markup[at] == '/';
      if (ending) ++at;
      size_t nameEnd = at;
      while (nameEnd < markup.size() && IsNameChar(markup[nameEnd])) ++nameEnd;
      const bool declaration = at < markup.size() && (markup[at] == '!' || markup[at] == '?');
      if (close == std::string_view::npos || (nameEnd == at && !declaration)) {
        if (hiddenUntil.empty()) text.Text(markup.substr(i, 1));
        ++i;
        continue;
      }
      // The name in lower case; one longer than any name looked for stands for none.
      char lowered[kLongestName];
      std::string_view name = "?";
      if (nameEnd - at <= kLongestName) {
        std::transform(markup.begin() + at, markup.begin() + nameEnd, lowered, Lower);
        name = std::string_view(lowered, nameEnd - at);
      }
      i = close + 1;
      if (!hiddenUntil.empty()) {
        if (ending && name == hiddenUntil) hiddenUntil = {};
        continue;
      }
      const bool selfClosing = markup[close - 1] == '/';
      if (!ending && !selfClosing && HidesContent(name)) {
        hiddenUntil = name == "script" ? "script" : "style";
      } else if (name == "br") {
        text.LineBreak();
      } else if (EndsBlock(name)) {
        text.BlockEnd();
      }
      continue;
    }
    if (!hiddenUntil.empty()) {
      ++i;
      continue;
    }
    if (c == '&') {
      char32_t code;
      size_t length;
      if (DecodeReference(markup.substr(i), &code, &length)) {
        text.CodePoint(code);
        i += length;
        continue;
      }
    }
    size_t end = i + 1;
    while (end < markup.size() && markup[end] != '<' && markup[end] != '&') ++end;
    text.Text(markup.substr(i, end - i));
    i = end;
  }
}
