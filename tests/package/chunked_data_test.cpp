#include "package/chunked_data.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "platform/file.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::Le16;
using lumo_test::Le32;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

// Dictionary-like text: English-looking words, some Chinese, punctuation and line
// breaks, so that deflate finds matches of every length and distance.
std::string Text(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the",  "dictionary", "word",      "explanation", "noun", "verb", "adj.",
      "例如", "词典",       "解释",      "of",          "a",    "to",   "compress",
      "(n.)", "chunk",      "boundary",  "翻译",        ";",    ",",    "\n"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
    text += ' ';
  }
  text.resize(size);
  return text;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Incompressible within a chunk, but every chunk repeats the one before: a stream that
// kept its history across a chunk boundary would compress it to almost nothing.
std::string RepeatedChunks(size_t chunks, size_t tail) {
  const std::string block = RandomBytes(kChunkLength, 7);
  std::string bytes;
  for (size_t i = 0; i < chunks; ++i) bytes += block;
  bytes += block.substr(0, tail);
  return bytes;
}

std::string Periodic(size_t size, const std::string& period) {
  std::string bytes;
  while (bytes.size() < size) bytes += period;
  bytes.resize(size);
  return bytes;
}

struct InputCase {
  const char* name;
  std::string bytes;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const InputCase& input, std::ostream* os) { *os << input.name; }

std::vector<InputCase> Inputs() {
  return {
      {"Empty", ""},
      {"OneByte", "x"},
      {"ChunkMinusOne", Text(kChunkLength - 1, 1)},
      {"ExactlyOneChunk", Text(kChunkLength, 2)},
      {"ChunkPlusOne", Text(kChunkLength + 1, 3)},
      {"ManyChunks", Text(12 * kChunkLength + 4321, 4)},
      {"TwoChunksExactly", Text(2 * kChunkLength, 5)},
      {"Random", RandomBytes(3 * kChunkLength + 1000, 6)},
      {"RepeatedChunks", RepeatedChunks(3, 5000)},
      {"OneByteRepeated", std::string(5 * kChunkLength + 7, 'a')},
      {"ShortPeriod", Periodic(4 * kChunkLength - 3, "abcdefg")},
  };
}

// A compressed file taken apart by the layout's table.
struct ParsedLayout {
  uint32_t chunkCount = 0;
  std::vector<std::string> chunks;
  std::string finishing;  // what follows the last chunk, before the trailer
  uint32_t crc = 0;
  uint32_t size = 0;
};

::testing::AssertionResult Parse(const std::string& file, ParsedLayout* layout) {
  if (file.size() < 14) return ::testing::AssertionFailure() << "file of " << file.size();
  if (Le16(file, 0) != kChunkLength)
    return ::testing::AssertionFailure() << "chunk length " << Le16(file, 0);
  layout->chunkCount = Le16(file, 2);
  size_t at = 4 + 2 * static_cast<size_t>(layout->chunkCount);
  for (uint32_t i = 0; i < layout->chunkCount; ++i) {
    const size_t size = Le16(file, 4 + 2 * static_cast<size_t>(i));
    if (at + size + 10 > file.size())
      return ::testing::AssertionFailure() << "chunk " << i << " runs past the end";
    layout->chunks.push_back(file.substr(at, size));
    at += size;
  }
  // The table's sizes, the finishing bytes and the trailer must account for every byte.
  if (file.size() - at != 10)
    return ::testing::AssertionFailure() << (file.size() - at) << " bytes after the chunks";
  layout->finishing = file.substr(at, 2);
  layout->crc = Le32(file, at + 2);
  layout->size = Le32(file, at + 6);
  return ::testing::AssertionSuccess();
}

// Inflates raw deflate data. endsStream tells whether the final block was reached.
std::string Inflate(const std::string& data, bool* endsStream) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  std::string out;
  std::vector<unsigned char> buffer(1 << 16);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
    if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;
  }
  EXPECT_TRUE(result == Z_OK || result == Z_STREAM_END) << "inflate returned " << result;
  EXPECT_EQ(stream.avail_in, 0u) << "input left over";
  *endsStream = result == Z_STREAM_END;
  inflateEnd(&stream);
  return out;
}

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

class DictzipLayoutTest : public ::testing::TestWithParam<InputCase> {
 protected:
  std::string Compress(unsigned threads) {
    const std::wstring source = m_dir.File(L"in.des");
    const std::wstring destination = m_dir.File(L"out" + std::to_wstring(threads) + L".dz");
    WriteBytes(source, GetParam().bytes);
    EXPECT_TRUE(CompressDataFile(source, destination, threads));
    return ReadBytes(destination);
  }

  TempDir m_dir;
};

TEST_P(DictzipLayoutTest, ChunksInflateAloneAndTogether) {
  const std::string& input = GetParam().bytes;
  ParsedLayout layout;
  ASSERT_TRUE(Parse(Compress(1), &layout));

  ASSERT_EQ(layout.chunkCount, (input.size() + kChunkLength - 1) / kChunkLength);
  std::string stream;
  for (uint32_t i = 0; i < layout.chunkCount; ++i) {
    bool ends = true;
    const std::string slice = input.substr(i * size_t{kChunkLength}, kChunkLength);
    EXPECT_TRUE(Inflate(layout.chunks[i], &ends) == slice) << "chunk " << i;
    EXPECT_FALSE(ends) << "chunk " << i << " carries the final-block mark";
    stream += layout.chunks[i];
  }
  EXPECT_EQ(layout.finishing, std::string("\x03\x00", 2));
  bool ends = false;
  EXPECT_TRUE(Inflate(stream + layout.finishing, &ends) == input);
  EXPECT_TRUE(ends);
  EXPECT_EQ(layout.crc, Crc(input));
  EXPECT_EQ(layout.size, input.size());
}

// The chunks of the layout as it was first defined: one raw deflate stream (level 9, memory
// level 9) over the whole input with a full flush after every chunk, then its end.
ParsedLayout SingleStream(const std::string& input) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<unsigned char> out(1 << 17);
  const auto pass = [&](const std::string& in, int flush) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    return std::string(reinterpret_cast<char*>(out.data()), out.size() - stream.avail_out);
  };
  ParsedLayout layout;
  for (size_t at = 0; at < input.size(); at += kChunkLength)
    layout.chunks.push_back(pass(input.substr(at, kChunkLength), Z_FULL_FLUSH));
  layout.finishing = pass("", Z_FINISH);
  deflateEnd(&stream);
  return layout;
}

// Chunks compressed on their own, by any number of threads, are that single stream.
TEST_P(DictzipLayoutTest, TheSingleStreamForEveryThreadCount) {
  const ParsedLayout single = SingleStream(GetParam().bytes);
  for (unsigned threads : {1u, 2u, 3u, 8u, 0u}) {
    ParsedLayout layout;
    ASSERT_TRUE(Parse(Compress(threads), &layout));
    EXPECT_TRUE(layout.chunks == single.chunks) << threads << " threads give other chunks";
    EXPECT_EQ(layout.finishing, single.finishing);
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, DictzipLayoutTest, ::testing::ValuesIn(Inputs()),
                         [](const ::testing::TestParamInfo<InputCase>& info) {
                           return std::string(info.param.name);
                         });

// The checksum folds 64 bytes at a time where it can: it must agree with zlib's for every
// length around the folding's steps, at every alignment, from any running value, and
// when a long input is fed in pieces.
TEST(Crc32Test, AgreesWithZlib) {
  const std::string bytes = RandomBytes(1 << 16, 32);
  const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
  for (size_t length = 0; length < 300; ++length) {
    for (size_t offset = 0; offset < 4; ++offset) {
      for (const uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        ASSERT_EQ(Crc32(start, p + offset, length),
                  crc32(start, p + offset, static_cast<uInt>(length)))
            << length << " bytes at " << offset;
      }
    }
  }
  uint32_t pieces = 0;
  for (size_t at = 0; at < bytes.size(); at += 1000)
    pieces = Crc32(pieces, p + at, std::min<size_t>(1000, bytes.size() - at));
  EXPECT_EQ(pieces, crc32(0, p, static_cast<uInt>(bytes.size())));
}

TEST(DictzipTest, EmptyInputIsTheFourteenByteLayout) {
  TempDir dir;
  WriteBytes(dir.File(L"empty"), "");
  ASSERT_TRUE(CompressDataFile(dir.File(L"empty"), dir.File(L"empty.dz"), 2));
  EXPECT_EQ(ReadBytes(dir.File(L"empty.dz")),
            std::string("\xCB\xE3\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00", 14));
}

TEST(DictzipTest, OverwritesAnEarlierDestination) {
  TempDir dir;
  WriteBytes(dir.File(L"in"), "x");
  WriteBytes(dir.File(L"out"), std::string(100000, 'z'));
  ASSERT_TRUE(CompressDataFile(dir.File(L"in"), dir.File(L"out")));
  ParsedLayout layout;
  EXPECT_TRUE(Parse(ReadBytes(dir.File(L"out")), &layout));
}

TEST(DictzipTest, UnusableSourceOrDestinationFails) {
  TempDir dir;
  WriteBytes(dir.File(L"in"), Text(3 * kChunkLength, 9));
  std::filesystem::create_directory(std::filesystem::path(dir.File(L"folder")));
  struct Case {
    const char* what;
    std::wstring source;
    std::wstring destination;
  };
  const Case cases[] = {
      {"missing source", dir.File(L"missing"), dir.File(L"a.dz")},
      {"source is a folder", dir.File(L"folder"), dir.File(L"b.dz")},
      {"destination folder missing", dir.File(L"in"), dir.File(L"no") + L"/x/c.dz"},
  };
  for (const Case& c : cases) EXPECT_FALSE(CompressDataFile(c.source, c.destination, 2)) << c.what;
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"a.dz"))) << "created for a missing source";
}

// The layout stores the size as a signed 32-bit number; a bigger input must be refused
// before anything is written. A sparse file makes the test cheap.
TEST(DictzipTest, InputOfTwoGibibytesIsRefused) {
  TempDir dir;
  const std::filesystem::path big(dir.File(L"big"));
  WriteBytes(big.wstring(), "");
  std::error_code ec;
  std::filesystem::resize_file(big, kMaxCompressibleSize + 1, ec);
  if (ec) GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
  EXPECT_FALSE(CompressDataFile(big.wstring(), dir.File(L"big.dz"), 2));
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"big.dz")));
}

// A full disk at any point of the file, the final rewrite of the table included, must
// be reported; with exactly enough room the same compression succeeds.
TEST(DictzipTest, WriteFailureAnywhereIsReported) {
  TempDir dir;
  const std::string input = Text(5 * kChunkLength + 99, 10);
  WriteBytes(dir.File(L"in"), input);
  ASSERT_TRUE(CompressDataFile(dir.File(L"in"), dir.File(L"ref.dz")));
  const int64_t fileSize = static_cast<int64_t>(ReadBytes(dir.File(L"ref.dz")).size());
  const int64_t tableSize = 4 + 2 * 6;
  // Everything CompressDataFile writes: the file, plus the table written a second time.
  const int64_t written = fileSize + tableSize;

  for (unsigned threads : {1u, 3u}) {
    for (int64_t budget : {int64_t{0}, int64_t{5}, tableSize + 1000, fileSize / 2,
                           fileSize - 9, fileSize - 1, written - 1}) {
      lumo_test::DiskFullAfter full(dir.Path(), budget);
      EXPECT_FALSE(CompressDataFile(dir.File(L"in"), dir.File(L"out.dz"), threads))
          << "budget " << budget << ", " << threads << " threads";
    }
    {
      lumo_test::DiskFullAfter full(dir.Path(), written);
      EXPECT_TRUE(CompressDataFile(dir.File(L"in"), dir.File(L"out.dz"), threads));
    }
    EXPECT_TRUE(ReadBytes(dir.File(L"out.dz")) == ReadBytes(dir.File(L"ref.dz")))
        << threads << " threads";
  }
}

}  // namespace
