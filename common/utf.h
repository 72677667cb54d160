#pragma once
// Unicode conversions of our own, identical on every platform. Decoding is complete and
// checked: an invalid or truncated UTF-8 sequence gives U+FFFD for its first byte and
// decoding resumes at the next byte; a lone UTF-16 surrogate gives U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>

constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes one character from s at *pos and advances *pos past it (by one byte at least).
char32_t DecodeUtf8(std::string_view s, size_t* pos);

// Appends the UTF-8 form of c (a surrogate code point is written as U+FFFD).
void AppendUtf8(std::string* out, char32_t c);
// The same into out, which has room for four bytes; returns the end of what was written.
char* EncodeUtf8(char* out, char32_t c);

std::u32string Utf8ToUtf32(std::string_view s);
std::string Utf32ToUtf8(std::u32string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// The order of the two bytes of a UTF-16 code unit in a file.
enum class Utf16ByteOrder { kLittleEndian, kBigEndian };

// The UTF-16 code units that bytes hold, two bytes each in the given order; an odd last
// byte is no unit and is left out. The units are taken as they are, lone surrogates and
// NULs included: what they mean is for the caller to decide.
std::u16string DecodeUtf16Units(std::string_view bytes, Utf16ByteOrder order);
// The same into units, which has room for bytes.size() / 2 of them; returns how many.
size_t DecodeUtf16Units(std::string_view bytes, Utf16ByteOrder order, char16_t* units);

// Wide text is UTF-16 on Windows and UTF-32 elsewhere; these convert accordingly.
std::wstring Utf8ToWideText(std::string_view s);
std::string WideToUtf8(std::wstring_view s);
std::u16string WideToUtf16(std::wstring_view s);
std::wstring Utf16ToWide(std::u16string_view s);

// True when s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// s with every invalid or truncated sequence replaced by U+FFFD, one per offending byte.
std::string SanitizeUtf8(std::string_view s);
