#pragma once
// Little-endian integers, as every file format of the system stores them, and the
// big-endian ones of StarDict's index and synonym files.

#include <cstdint>

inline void PutLe16(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

inline void PutLe32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint16_t GetLe16(const unsigned char* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

inline uint32_t GetLe32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline void PutBe32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

inline uint32_t GetBe32(const unsigned char* at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

inline uint64_t GetBe64(const unsigned char* at) {
  return (static_cast<uint64_t>(GetBe32(at)) << 32) | GetBe32(at + 4);
}
