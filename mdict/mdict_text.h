#pragma once
// The text rules of MDict dictionaries, apart from their binary layout: the header's
// attributes, style sheets, link records and the comparison of keys without letter case.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The name="value" pairs of the header's text (UTF-8), values with their entities decoded.
// Read tolerantly, as the header is not always well-formed XML: single or double quotes,
// unescaped "<" and ">" inside values, anything between the pairs passed over.
std::vector<std::pair<std::string, std::string>> HeaderAttributes(std::string_view text);

// text with &lt; &gt; &amp; &quot; &apos; and numeric references decoded; anything else
// after an "&" stays as it is.
std::string DecodeEntities(std::string_view text);

// text without the ASCII blanks (space, tab, line breaks, vertical tab, form feed) at
// either end.
std::string_view TrimBlanks(std::string_view text);

// The target of a link record "@@@LINK=target" (its first line, trimmed); false when
// record is no link.
bool LinkTarget(std::string_view record, std::string_view* target);

// text with the letters of the Latin, Greek and Cyrillic alphabets (and the full-width
// Latin ones) in lower case, for matching keys without letter case.
std::string FoldCase(std::string_view text);

// GB18030 text as UTF-8 through code page 936 (GBK), for systems that lack code page
// 54936 (Wine): ASCII and the two-byte characters as GBK has them, the four-byte
// sequences of the planes beyond the first by their arithmetic, and those within the first
// plane, which would need GB18030's tables, as U+FFFD.
std::string Gb18030ToUtf8ThroughGbk(std::string_view bytes);

// A style sheet: groups of three lines, a number N, the text that begins style N and the
// text that ends it. In a record, a marker `N` (a backquote, digits, a backquote) ends the
// style begun before and begins style N; an undefined N only ends the one before; the
// last style ends with the record.
class CStyleSheet {
 public:
  CStyleSheet() = default;
  explicit CStyleSheet(std::string_view text);

  // True when it defines no style: records are then left as they are.
  bool Empty() const { return m_styles.empty(); }

  // record with its markers expanded, appended to out. With plainStyles the styles'
  // texts go in as plain text (their markup removed), for records that are text rather
  // than HTML.
  void Expand(std::string_view record, bool plainStyles, std::string* out) const;

 private:
  struct Style {
    uint32_t number;
    std::string begin, end;            // as written (HTML)
    std::string plainBegin, plainEnd;  // as plain text
  };
  const Style* Find(uint32_t number) const;

  std::vector<Style> m_styles;  // by number
};
