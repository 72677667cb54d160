#pragma once
// Conversions through the system ANSI code page: the code page Windows uses for the
// user's locale (CP_ACP). Both directions use the system's default replacements and
// never fail on content.

#include <string>
#include <string_view>

namespace platform {

// The number of the ANSI code page in force (936 for Simplified Chinese, 1252 ...).
unsigned AnsiCodePage();

// MultiByteToWideChar(CP_ACP, 0): bytes that are not valid in the code page become the
// system's replacement character.
std::wstring AnsiToWide(std::string_view text);

// The same through another code page (a word list in a code page not the system's).
std::wstring AnsiToWide(std::string_view text, unsigned codePage);

// WideToUtf8(AnsiToWide(text, codePage)), the system's code page for 0, without a detour
// through wide text where the system converts to UTF-8 itself.
std::string AnsiToUtf8(std::string_view text, unsigned codePage);

// How many bytes of text the code page (the system's for 0) cannot map: each is replaced
// when the text is converted. A byte that starts a character the text cuts short counts,
// and conversion goes on at the byte after it.
size_t AnsiUnmappedBytes(std::string_view text, unsigned codePage);

// True when the system can convert from that code page.
bool IsCodePageSupported(unsigned codePage);

// WideCharToMultiByte(CP_ACP, 0) without a replacement argument: characters the code
// page cannot represent become its default character ("?").
std::string WideToAnsi(std::wstring_view text);

}  // namespace platform
