#pragma once
// The chunked compressed layout of the dictionary data: the input cut into chunks of
// 58315 bytes, each ending with a full flush so that it inflates on its own, a table of
// the chunks' compressed sizes in front, and the CRC-32 and size of the input behind:
//
//   u16 chunk length (58315) | u16 N | N x u16 compressed sizes | chunks | 03 00 |
//   u32 CRC-32 of the input | u32 input size          (all little-endian)

#include <cstdint>
#include <string>

constexpr uint32_t kChunkLength = 58315;
// The layout keeps the input size as a signed 32-bit number.
constexpr uint64_t kMaxCompressibleSize = 0x7FFFFFFF;

// Compresses source into destination; false when a file could not be opened, read or
// written, or deflate failed (the destination is then incomplete). threads = 0 uses one
// thread per core; the output is the same for every thread count.
bool CompressDataFile(const std::wstring& source, const std::wstring& destination,
                      unsigned threads = 1);
