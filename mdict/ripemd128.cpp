#include "mdict/ripemd128.h"

#include <cstring>

#include "common/byte_order.h"

namespace {

uint32_t Rotate(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// The four round functions; the left line takes them in this order, the right in reverse.
uint32_t F(int round, uint32_t x, uint32_t y, uint32_t z) {
  switch (round) {
    case 0:
      return x ^ y ^ z;
    case 1:
      return (x & y) | (~x & z);
    case 2:
      return (x | ~y) ^ z;
    default:
      return (x & z) | (y & ~z);
  }
}

// For each of the 64 steps of a line: the message word it adds and its rotation.
constexpr uint8_t kLeftWord[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8,  9, 10, 11, 12, 13, 14, 15,
                                   7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,
                                   3, 10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,  13, 11, 5,  12,
                                   1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr uint8_t kRightWord[64] = {5,  14, 7, 0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                                    6,  11, 3, 7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                                    15, 5,  1, 3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                                    8,  6,  4, 1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t kLeftShift[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                                    7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                                    11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                                    11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t kRightShift[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                                     9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                                     9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                                     15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t kLeftConstant[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr uint32_t kRightConstant[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

void Compress(uint32_t h[4], const unsigned char* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = GetLe32(block + 4 * i);
  uint32_t l[4] = {h[0], h[1], h[2], h[3]};
  uint32_t r[4] = {h[0], h[1], h[2], h[3]};
  for (int j = 0; j < 64; ++j) {
    const int round = j / 16;
    const uint32_t lt =
        Rotate(l[0] + F(round, l[1], l[2], l[3]) + x[kLeftWord[j]] + kLeftConstant[round], kLeftShift[j]);
    l[0] = l[3], l[3] = l[2], l[2] = l[1], l[1] = lt;
    const uint32_t rt = Rotate(
        r[0] + F(3 - round, r[1], r[2], r[3]) + x[kRightWord[j]] + kRightConstant[round], kRightShift[j]);
    r[0] = r[3], r[3] = r[2], r[2] = r[1], r[1] = rt;
  }
  const uint32_t t = h[1] + l[2] + r[3];
  h[1] = h[2] + l[3] + r[0];
  h[2] = h[3] + l[0] + r[1];
  h[3] = h[0] + l[1] + r[2];
  h[0] = t;
}

}  // namespace

Ripemd128Digest Ripemd128(std::string_view data) {
  uint32_t h[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  size_t at = 0;
  for (; data.size() - at >= 64; at += 64) Compress(h, bytes + at);
  // The tail, a one bit, zeros, and the length in bits, in one or two blocks.
  unsigned char tail[128] = {};
  const size_t rest = data.size() - at;
  if (rest > 0) std::memcpy(tail, bytes + at, rest);
  tail[rest] = 0x80;
  const size_t tailSize = rest < 56 ? 64 : 128;
  const uint64_t bits = uint64_t{data.size()} * 8;
  PutLe32(tail + tailSize - 8, static_cast<uint32_t>(bits));
  PutLe32(tail + tailSize - 4, static_cast<uint32_t>(bits >> 32));
  for (size_t block = 0; block < tailSize; block += 64) Compress(h, tail + block);
  Ripemd128Digest digest;
  for (int i = 0; i < 4; ++i) PutLe32(digest.data() + 4 * i, h[i]);
  return digest;
}
