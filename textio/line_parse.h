#pragma once
// One word-list line becomes a headword and an explanation: the line splits at its first
// TAB or comma outside double quotes, each field is converted to UTF-8 and quotes,
// apostrophes, TABs and spaces are trimmed off both ends.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct LineFields {
  std::string_view first;
  std::string_view second;
};

// False when the line has no separator outside double quotes (the line is dropped).
// The fields are views into line.
bool SplitLine(std::string_view line, LineFields* fields);

// Why a line gives no entry.
enum class LineProblem : uint8_t {
  kNoSeparator,     // no TAB or comma outside double quotes
  kUnclosedQuote,   // a double quote before the separator is never closed
  kEmptyHeadword,   // the separator is the line's first character
  kTooLong,         // longer than kMaxLineBytes: skipped without being held
};

// The longest line a word list may hold. A longer one is skipped as it is read, so that
// a file of one endless line costs no more memory than this.
inline constexpr size_t kMaxLineBytes = size_t{16} << 20;
// For a line SplitLine refused: which of the first two problems it has.
LineProblem SplitProblem(std::string_view line);

// Converts an ANSI field to UTF-8 through the system code page (or codePage, when not 0);
// false and no text for an empty field.
bool AnsiToUtf8(std::string_view field, std::string* out, unsigned codePage = 0);

inline constexpr std::string_view kTrimChars = "\"'\t ";

// Trims the characters of trimSet off both ends; a field made only of them stays whole.
std::string_view TrimFieldChars(std::string_view field, std::string_view trimSet = kTrimChars);
void TrimFieldChars(std::string* field, std::string_view trimSet = kTrimChars);

// An explanation's escapes as a word list written by ldic dump (and StarDict's tabfile)
// holds them: \n, \r and \t stand for a line break, a CR and a TAB, \\ for one
// backslash. Any other backslash stays as it is, also one at the field's end.
void UnescapeField(std::string_view field, std::string* out);
// Whether UnescapeField could change field (it holds a backslash): fields without one,
// most of them, are taken as they are.
inline bool HoldsEscape(std::string_view field) { return field.find('\\') != std::string_view::npos; }

// How the line FormatWordListLine gives is read back by the word-list parser.
enum class LineFidelity : uint8_t {
  kExact,    // as this headword and explanation, whether escapes are read or not
  kEscaped,  // as these only when the explanation's escapes are read (UnescapeField)
  kChanged,  // otherwise, either way
};

// One line of a UTF-8 word list (without its line break) that the word-list parser reads
// back as exactly this headword and explanation: a headword holding a TAB, a comma or a
// double quote is put between double quotes, with one more quote at its end when it
// holds an odd number of them. In the explanation a line break is written \n (a CR \r),
// a TAB at either end \t, and a backslash before n, r, t, a backslash or any of these
// \\, so that reading the escapes gives it back. kChanged when no such line exists (a
// line break, a NUL or an invalid UTF-8 sequence in the headword, a NUL or an invalid
// sequence in the explanation, an empty headword, quotes, apostrophes or blanks at a
// field's ends that trimming would take); the line is then the nearest one, with a
// headword's line breaks written \n and NULs left out.
LineFidelity FormatWordListLine(std::string_view headword, std::string_view explanation,
                                std::string* line);
