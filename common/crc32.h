#pragma once
// CRC-32 as zlib's crc32 computes it (the gzip polynomial; start with 0), but folding 64
// bytes at a time with carry-less multiplication where the processor has it.

#include <cstddef>
#include <cstdint>

uint32_t Crc32(uint32_t crc, const void* data, size_t size);
