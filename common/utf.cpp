#include "common/utf.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "common/cpu_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define LUMO_UTF8_SIMD 1
#endif

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

#ifdef LUMO_UTF8_SIMD
// Validation thirty-two bytes at a time by nibble lookups (Keiser and Lemire, "Validating
// UTF-8 In Less Than One Instruction Per Byte"). Every byte is checked against the byte
// before it by three table lookups whose common bits name an error; a third or fourth
// byte of a sequence is checked by the lead two or three bytes back.
namespace simd {

constexpr uint8_t kTooShort = 1 << 0;      // lead then no continuation
constexpr uint8_t kTooLong = 1 << 1;       // ASCII then continuation
constexpr uint8_t kOverlong3 = 1 << 2;     // E0 80..9F
constexpr uint8_t kTooLarge = 1 << 3;      // past U+10FFFF
constexpr uint8_t kSurrogate = 1 << 4;     // ED A0..BF
constexpr uint8_t kOverlong2 = 1 << 5;     // C0, C1
constexpr uint8_t kTooLarge1000 = 1 << 6;  // F5.. 80..8F
constexpr uint8_t kOverlong4 = 1 << 6;     // F0 80..8F
constexpr uint8_t kTwoConts = 1 << 7;      // continuation then continuation
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

// Each table twice, once per 128-bit lane, as the byte shuffle looks up within a lane.
constexpr uint8_t kByte1High[32] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,
    kTooShort | kOverlong2,
    kTooShort,
    kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,
    kTooShort | kOverlong2,
    kTooShort,
    kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
constexpr uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
constexpr uint8_t kByte1Low[32] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
    kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
    kLarge | kSurrogate, kLarge, kLarge,
    kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
    kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
    kLarge | kSurrogate, kLarge, kLarge};
constexpr uint8_t kCont80 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
constexpr uint8_t kCont90 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
constexpr uint8_t kContA0 = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
constexpr uint8_t kByte2High[32] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kCont80, kCont90, kContA0, kContA0, kTooShort, kTooShort, kTooShort, kTooShort,
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kCont80, kCont90, kContA0, kContA0, kTooShort, kTooShort, kTooShort, kTooShort};

#define LUMO_AVX2 __attribute__((target("avx2")))

LUMO_AVX2 inline __m256i Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

LUMO_AVX2 inline __m256i HighNibbles(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

// The error bits of input, whose thirty-two bytes follow those of previous.
LUMO_AVX2 inline __m256i BlockErrors(__m256i input, __m256i previous) {
  // The last sixteen bytes of previous, then the first sixteen of input: shifting input
  // back by one to three bytes across the lane boundary takes its bytes from here.
  const __m256i straddle = _mm256_permute2x128_si256(previous, input, 0x21);
  const __m256i prev1 = _mm256_alignr_epi8(input, straddle, 15);
  const __m256i prev2 = _mm256_alignr_epi8(input, straddle, 14);
  const __m256i prev3 = _mm256_alignr_epi8(input, straddle, 13);
  const __m256i special = _mm256_and_si256(
      _mm256_and_si256(_mm256_shuffle_epi8(Load(kByte1High), HighNibbles(prev1)),
                       _mm256_shuffle_epi8(Load(kByte1Low),
                                           _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)))),
      _mm256_shuffle_epi8(Load(kByte2High), HighNibbles(input)));
  // Bytes two or three after a lead of three or four bytes must be continuations, which
  // the lookups above mark as two continuations in a row.
  const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i mustContinue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(mustContinue, special);
}

LUMO_AVX2 bool IsValid(const unsigned char* p, size_t size) {
  __m256i previous = _mm256_setzero_si256();
  __m256i errors = _mm256_setzero_si256();
  size_t at = 0;
  for (; at + 32 <= size; at += 32) {
    const __m256i input = Load(p + at);
    errors = _mm256_or_si256(errors, BlockErrors(input, previous));
    previous = input;
  }
  // The rest, padded with NULs: a sequence cut short by the end then fails as one cut
  // short by an ASCII character would.
  unsigned char last[32] = {};
  std::memcpy(last, p + at, size - at);
  errors = _mm256_or_si256(errors, BlockErrors(Load(last), previous));
  return _mm256_testz_si256(errors, errors) != 0;
}

}  // namespace simd

// Below this length the byte-wise check is as fast.
constexpr size_t kSimdFrom = 64;
#endif

bool IsValidUtf8Bytewise(std::string_view s);

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

char* EncodeUtf8(char* out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementChar;
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

void AppendUtf8(std::string* out, char32_t c) {
  char bytes[4];
  out->append(bytes, static_cast<size_t>(EncodeUtf8(bytes, c) - bytes));
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

size_t DecodeUtf16Units(std::string_view bytes, Utf16ByteOrder order, char16_t* units) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t count = bytes.size() / 2;
  if (order == Utf16ByteOrder::kLittleEndian) {
    for (size_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  } else {
    for (size_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
  }
  return count;
}

std::u16string DecodeUtf16Units(std::string_view bytes, Utf16ByteOrder order) {
  std::u16string units(bytes.size() / 2, u'\0');
  DecodeUtf16Units(bytes, order, units.data());
  return units;
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
#ifdef LUMO_UTF8_SIMD
  if (s.size() >= kSimdFrom && CpuHasAvx2())
    return simd::IsValid(reinterpret_cast<const unsigned char*>(s.data()), s.size());
#endif
  return IsValidUtf8Bytewise(s);
}

namespace {

bool IsValidUtf8Bytewise(std::string_view s) {
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

}  // namespace

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
