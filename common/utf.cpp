#include "common/utf.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

char32_t DecodeUtf8(std::string_view s, size_t* pos) {
  const size_t i = *pos;
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  *pos = i + 1;
  if (b0 < 0x80) return b0;

  int extra;
  char32_t c;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    return kReplacementChar;  // stray continuation, overlong lead or out of range
  }
  if (i + extra >= s.size()) return kReplacementChar;  // truncated at the end
  for (int k = 1; k <= extra; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (!IsContinuation(b)) return kReplacementChar;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacementChar;
  *pos = i + 1 + extra;
  return c;
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementChar;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::u32string Utf8ToUtf32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t pos = 0; pos < s.size();) out.push_back(DecodeUtf8(s, &pos));
  return out;
}

std::string Utf32ToUtf8(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) AppendUtf8(&out, c);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t pos = 0; pos < s.size();) {
    const char32_t c = DecodeUtf8(s, &pos);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char32_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(&out, u);  // a lone surrogate becomes U+FFFD there
    }
  }
  return out;
}

std::wstring Utf8ToWideText(std::string_view s) {
  if constexpr (sizeof(wchar_t) == 2) {
    const std::u16string u = Utf8ToUtf16(s);
    return std::wstring(u.begin(), u.end());
  } else {
    const std::u32string u = Utf8ToUtf32(s);
    return std::wstring(u.begin(), u.end());
  }
}

std::string WideToUtf8(std::wstring_view s) {
  if constexpr (sizeof(wchar_t) == 2) {
    return Utf16ToUtf8(std::u16string(s.begin(), s.end()));
  } else {
    return Utf32ToUtf8(std::u32string(s.begin(), s.end()));
  }
}

std::u16string WideToUtf16(std::wstring_view s) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::u16string(s.begin(), s.end());
  } else {
    return Utf8ToUtf16(WideToUtf8(s));
  }
}

std::wstring Utf16ToWide(std::u16string_view s) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::wstring(s.begin(), s.end());
  } else {
    return Utf8ToWideText(Utf16ToUtf8(s));
  }
}

bool IsValidUtf8(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* const end = p + s.size();
  while (p < end) {
    // ASCII is skipped eight bytes at a time, up to the first byte with its high bit set
    // (the lowest set bit of a little-endian load is the earliest byte).
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (const uint64_t high = word & 0x8080808080808080ull; high != 0) {
        if constexpr (std::endian::native == std::endian::little)
          p += std::countr_zero(high) / 8;
        break;
      }
      p += 8;
    }
    if (p == end) break;
    const unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    const std::ptrdiff_t left = end - p;
    int length;
    if (left >= 3 && (b & 0xF0) == 0xE0 && IsContinuation(p[1]) && IsContinuation(p[2])) {
      // The common case for CJK text first: three bytes, not overlong, not a surrogate.
      if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F)) return false;
      length = 3;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (left < 2 || !IsContinuation(p[1])) return false;
      length = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      if (left < 4 || !IsContinuation(p[1]) || !IsContinuation(p[2]) || !IsContinuation(p[3]) ||
          (b == 0xF0 && p[1] < 0x90) || (b == 0xF4 && p[1] > 0x8F))
        return false;  // truncated, overlong or past U+10FFFF
      length = 4;
    } else {
      return false;  // a stray continuation, an invalid lead or a truncated sequence
    }
    p += length;
  }
  return true;
}

std::string SanitizeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t pos = 0; pos < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++pos;
      continue;
    }
    AppendUtf8(&out, DecodeUtf8(s, &pos));
  }
  return out;
}
