#pragma once
// LZO1X decompression, as MDict stores blocks of type 1. Every read of the input and every
// write and back-reference of the output is checked, so a damaged or hostile block gives
// false, never an access outside the buffers.

#include <cstddef>
#include <string>
#include <string_view>

// Decompresses the LZO1X stream in compressed, which must decompress to exactly size
// bytes, into out (replaced). The output grows as the stream really produces it, so a
// block that claims a large size but holds little costs no more than what it holds.
// False when the stream is damaged, ends early, or gives more or fewer than size bytes.
bool Lzo1xDecompress(std::string_view compressed, size_t size, std::string* out);
