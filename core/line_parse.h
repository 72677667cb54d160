#pragma once
// One word-list line becomes a headword and an explanation: the line splits at its first
// TAB or comma outside double quotes, each field is converted to UTF-8 and quotes,
// apostrophes, TABs and spaces are trimmed off both ends.

#include <string>
#include <string_view>

struct LineFields {
  std::string_view first;
  std::string_view second;
};

// False when the line has no separator outside double quotes (the line is dropped).
// The fields are views into line.
bool SplitLine(std::string_view line, LineFields* fields);

// Converts an ANSI field to UTF-8 through the system code page; false and no text for an
// empty field.
bool AnsiToUtf8(std::string_view field, std::string* out);

inline constexpr std::string_view kTrimChars = "\"'\t ";

// Trims the characters of trimSet off both ends; a field made only of them stays whole.
std::string_view TrimFieldChars(std::string_view field, std::string_view trimSet = kTrimChars);
void TrimFieldChars(std::string* field, std::string_view trimSet = kTrimChars);
