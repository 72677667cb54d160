#pragma once
// RIPEMD-128, the 128-bit hash that derives the key of an enciphered MDict key-block index
// from the block's own bytes.

#include <array>
#include <cstdint>
#include <string_view>

using Ripemd128Digest = std::array<uint8_t, 16>;

Ripemd128Digest Ripemd128(std::string_view data);
