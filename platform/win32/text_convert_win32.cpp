// ANSI code page conversions through the system itself, so that the replacements for bytes
// and characters the code page lacks are exactly the ones every other program sees.

#include <windows.h>

#include <climits>

#include "common/utf.h"
#include "platform/text_convert.h"

namespace platform {

namespace {

// The conversion functions take int lengths. Longer text is converted in pieces of at most
// this many units, cut where no character is split.
constexpr size_t kMaxPiece = size_t{1} << 30;

// The length of the first piece of text: at most kMaxPiece bytes, not splitting a
// double-byte character of the code page.
size_t AnsiPieceLength(std::string_view text, UINT codePage) {
  if (text.size() <= kMaxPiece) return text.size();
  size_t at = 0;
  while (at < kMaxPiece) {
    const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) != 0;
    const size_t step = lead ? 2 : 1;
    if (at + step > kMaxPiece) break;
    at += step;
  }
  return at;
}

// The same for UTF-16: never between the two halves of a surrogate pair.
size_t WidePieceLength(std::wstring_view text) {
  if (text.size() <= kMaxPiece) return text.size();
  size_t at = kMaxPiece;
  if (IS_HIGH_SURROGATE(text[at - 1])) --at;
  return at;
}

void AppendAnsiPieceAsWide(std::string_view piece, UINT codePage, std::wstring* out) {
  if (piece.empty()) return;
  const int inLength = static_cast<int>(piece.size());
  const int needed = MultiByteToWideChar(codePage, 0, piece.data(), inLength, nullptr, 0);
  if (needed <= 0) return;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(needed));
  const int written =
      MultiByteToWideChar(codePage, 0, piece.data(), inLength, out->data() + start, needed);
  out->resize(start + static_cast<size_t>(written > 0 ? written : 0));
}

void AppendWidePieceAsAnsi(std::wstring_view piece, std::string* out) {
  if (piece.empty()) return;
  const int inLength = static_cast<int>(piece.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, piece.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(needed));
  const int written = WideCharToMultiByte(CP_ACP, 0, piece.data(), inLength,
                                          out->data() + start, needed, nullptr, nullptr);
  out->resize(start + static_cast<size_t>(written > 0 ? written : 0));
}

}  // namespace

unsigned AnsiCodePage() { return GetACP(); }

std::wstring AnsiToWide(std::string_view text) { return AnsiToWide(text, GetACP()); }

std::string AnsiToUtf8(std::string_view text, unsigned codePage) {
  return WideToUtf8(AnsiToWide(text, codePage == 0 ? GetACP() : codePage));
}

std::wstring AnsiToWide(std::string_view text, unsigned codePage) {
  std::wstring out;
  while (!text.empty()) {
    const size_t length = AnsiPieceLength(text, codePage);
    AppendAnsiPieceAsWide(text.substr(0, length), codePage, &out);
    text.remove_prefix(length);
  }
  return out;
}

namespace {

// Whether the system converts bytes without replacing any.
bool MapsCleanly(const char* bytes, size_t size, UINT codePage) {
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0) > 0;
}

}  // namespace

size_t AnsiUnmappedBytes(std::string_view text, unsigned codePage) {
  const UINT page = codePage == 0 ? GetACP() : codePage;
  if (text.empty()) return 0;
  if (text.size() <= kMaxPiece) {
    if (MapsCleanly(text.data(), text.size(), page)) return 0;
    // Some code pages take no strict conversion at all: nothing can be told of their bytes.
    if (GetLastError() == ERROR_INVALID_FLAGS) return 0;
  }
  // Character by character: the shortest run of bytes from here that maps is one; a byte
  // that starts none is replaced, and the next byte starts afresh.
  size_t unmapped = 0;
  for (size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    size_t length = 1;
    while (length <= 4 && at + length <= text.size() && !MapsCleanly(text.data() + at, length, page)) ++length;
    if (length <= 4 && at + length <= text.size()) {
      at += length;
    } else {
      ++unmapped;
      ++at;
    }
  }
  return unmapped;
}

bool IsCodePageSupported(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  while (!text.empty()) {
    const size_t length = WidePieceLength(text);
    AppendWidePieceAsAnsi(text.substr(0, length), &out);
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace platform
