#include "common/crc32.h"

#include <zlib.h>

#include <algorithm>

#include "common/cpu_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define LUMO_CRC_FOLD 1
#endif

namespace {

// zlib's own, for what the folding does not cover; it takes at most 4 GiB at a time.
uint32_t ZlibCrc32(uint32_t crc, const unsigned char* p, size_t size) {
  while (size > 0) {
    const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, p, n));
    p += n;
    size -= n;
  }
  return crc;
}

#ifdef LUMO_CRC_FOLD
#define LUMO_CLMUL __attribute__((target("sse4.1,pclmul")))

LUMO_CLMUL inline __m128i Load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x carried 128 bits further by the constants k (x^(n+64) and x^n mod P), plus next.
LUMO_CLMUL inline __m128i FoldInto(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Folding by carry-less multiplication (Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction", for the bit-reflected polynomial 0xEDB88320).
// The constants are x^n mod P for the fold distances, and for the final Barrett
// reduction P itself and its quotient. size is a multiple of 16, at least 64; crc is the
// register as it runs, not inverted.
LUMO_CLMUL uint32_t Fold(const unsigned char* p, size_t size, uint32_t crc) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);  // 4 blocks ahead
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);  // 1 block ahead
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  size -= 64;
  for (; size >= 64; p += 64, size -= 64) {
    x1 = FoldInto(x1, k1k2, Load(p));
    x2 = FoldInto(x2, k1k2, Load(p + 16));
    x3 = FoldInto(x3, k1k2, Load(p + 32));
    x4 = FoldInto(x4, k1k2, Load(p + 48));
  }
  // Four lanes into one, then the remaining blocks one at a time.
  x1 = FoldInto(x1, k3k4, x2);
  x1 = FoldInto(x1, k3k4, x3);
  x1 = FoldInto(x1, k3k4, x4);
  for (; size >= 16; p += 16, size -= 16) x1 = FoldInto(x1, k3k4, Load(p));

  // 128 bits to 64, then the Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00),
                     _mm_srli_si128(x1, 4));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), poly, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, q), 1));
}
#endif

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
#ifdef LUMO_CRC_FOLD
  if (size >= 64 && CpuHasCarrylessMultiply()) {
    const size_t folded = size & ~size_t{15};
    crc = ~Fold(p, folded, ~crc);
    p += folded;
    size -= folded;
  }
#endif
  return ZlibCrc32(crc, p, size);
}
