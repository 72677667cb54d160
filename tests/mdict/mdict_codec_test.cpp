// The two algorithms of our own under the MDict reader: RIPEMD-128 against the published
// vectors, and LZO1X decompression against streams liblzo2 made (fixtures/mdict/lzo), with
// every wrong size, cut and damaged byte refused or kept within the block.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "common/crc32.h"
#include "mdict/lzo1x.h"
#include "mdict/ripemd128.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"

namespace {

std::string Hex(const Ripemd128Digest& digest) {
  std::string out;
  char two[3];
  for (const uint8_t b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

TEST(Ripemd128, PublishedVectors) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "cdf26213a150dc3ecb610f18f6b38b46"},
      {"a", "86be7afa339d0fc7cfc785e72f578d33"},
      {"abc", "c14a12199c66e4ba84636b0f69144c77"},
      {"message digest", "9e327b3d6e523062afc1132d7df9d1b8"},
      {"abcdefghijklmnopqrstuvwxyz", "fd2aa607f71dc8f510714922b371834e"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "a1aa0689d0fafa2ddc22e88b49133a06"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d1e959eb179c911faea4624c60c5c702"},
      {[] {
         std::string s;
         for (int i = 0; i < 8; ++i) s += "1234567890";
         return s;
       }(),
       "3f45ef194732c2dbb2c4a2c769795fa3"},
      {std::string(1000000, 'a'), "4a7f5723f954eba1216c9d8f6320431f"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(Ripemd128(c.input)), c.digest) << c.input.substr(0, 20);
}

struct Vector {
  std::string name;
  std::string stream;
  size_t size;
  uint32_t crc;
};

std::vector<Vector> LzoVectors() {
  const std::string manifest = lumo_test::ReadBytes(host_test::FixturePath(L"mdict/lzo/vectors.txt"));
  std::istringstream lines(manifest);
  std::vector<Vector> vectors;
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Vector v;
    fields >> v.name >> v.size >> std::hex >> v.crc;
    v.stream = lumo_test::ReadBytes(
        host_test::FixturePath(L"mdict/lzo/" + std::wstring(v.name.begin(), v.name.end())));
    vectors.push_back(v);
  }
  return vectors;
}

TEST(Lzo1x, DecompressesWhatLiblzoMade) {
  const std::vector<Vector> vectors = LzoVectors();
  ASSERT_EQ(vectors.size(), 11u);
  std::string out;
  for (const Vector& v : vectors) {
    ASSERT_FALSE(v.stream.empty()) << v.name;
    ASSERT_TRUE(Lzo1xDecompress(v.stream, v.size, &out)) << v.name;
    EXPECT_EQ(out.size(), v.size) << v.name;
    EXPECT_EQ(Crc32(0, out.data(), out.size()), v.crc) << v.name;
    // The size the index declares is enforced both ways.
    EXPECT_FALSE(Lzo1xDecompress(v.stream, v.size - 1, &out)) << v.name;
    EXPECT_FALSE(Lzo1xDecompress(v.stream, v.size + 1, &out)) << v.name;
  }
}

TEST(Lzo1x, CutOrDamagedStreamsStayInTheirBlock) {
  std::string out;
  for (const Vector& v : LzoVectors()) {
    // Every cut of the small streams, a spread of cuts of the big ones: the end marker is
    // gone, so none may succeed.
    const size_t step = v.stream.size() <= 2048 ? 1 : v.stream.size() / 61;
    for (size_t cut = 0; cut < v.stream.size(); cut += step)
      EXPECT_FALSE(Lzo1xDecompress(std::string_view(v.stream).substr(0, cut), v.size, &out))
          << v.name << " cut at " << cut;
    if (v.stream.size() > 2048) continue;
    // Any byte changed: refused, or exactly the declared size (the checksum judges it).
    for (size_t at = 0; at < v.stream.size(); ++at) {
      for (const unsigned char flip : {0x01, 0x10, 0x80, 0xFF}) {
        std::string damaged = v.stream;
        damaged[at] = static_cast<char>(damaged[at] ^ flip);
        if (Lzo1xDecompress(damaged, v.size, &out)) {
          EXPECT_EQ(out.size(), v.size) << v.name << " at " << at;
        }
      }
    }
  }
}

TEST(Lzo1x, HostileStreamsAreRefused) {
  std::string out;
  const struct {
    const char* label;
    std::string stream;
    size_t size;
  } cases[] = {
      {"nothing", "", 0},
      {"a match reaching before the start",
       std::string("\x01"
                   "abcd"
                   "\x00\x00"
                   "\x11\x00\x00",
                   10),
       7},
      {"a far match reaching before the start",
       std::string("\x15"
                   "abcd"
                   "\x11\xff\xff"
                   "\x11\x00\x00",
                   11),
       100},
      {"more output than declared",
       std::string("\x15"
                   "abcd"
                   "\x11\x00\x00",
                   8),
       3},
      {"literals past the input",
       std::string("\x20"
                   "abc",
                   4),
       15},
      {"a length of endless zeros", std::string("\x00\x00\x00\x00", 4), 1000},
  };
  for (const auto& c : cases) EXPECT_FALSE(Lzo1xDecompress(c.stream, c.size, &out)) << c.label;
  // The empty stream of a writer that stores nothing: the end marker alone.
  EXPECT_TRUE(Lzo1xDecompress(std::string("\x11\x00\x00", 3), 0, &out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
