#include "stardict/dictzip.h"

#include <zlib.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/crc32.h"
#include "package/chunk_deflater.h"
#include "package/chunked_data.h"
#include "platform/file.h"

struct CDictzipWriter::State {
  platform::CBinaryFile file;
  CChunkDeflater deflater;
  uint64_t total = 0;
  uint64_t received = 0;
  uint32_t chunkCount = 0;
  std::vector<uint16_t> sizes;
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  uLong crc = 0;
  bool ok = false;

  // The gzip header with the RA field: ID1 ID2 CM FLG(FEXTRA) MTIME(0) XFL(2: best) OS(3),
  // XLEN, then "RA", its length, version 1, chunk length, chunk count and the sizes.
  std::vector<unsigned char> Header() const {
    const uint32_t raLength = 6 + 2 * chunkCount;
    std::vector<unsigned char> h(12 + 4 + raLength, 0);
    h[0] = 0x1F;
    h[1] = 0x8B;
    h[2] = 8;
    h[3] = 0x04;
    h[8] = 2;
    h[9] = 3;
    PutLe16(&h[10], 4 + raLength);
    h[12] = 'R';
    h[13] = 'A';
    PutLe16(&h[14], raLength);
    PutLe16(&h[16], 1);
    PutLe16(&h[18], kChunkLength);
    PutLe16(&h[20], chunkCount);
    for (size_t i = 0; i < sizes.size(); ++i) PutLe16(&h[22 + 2 * i], sizes[i]);
    return h;
  }
};

CDictzipWriter::CDictzipWriter() : m_state(std::make_unique<State>()) {}

CDictzipWriter::~CDictzipWriter() = default;

bool CDictzipWriter::Begin(const std::wstring& path, uint64_t totalSize) {
  m_state->ok = false;
  // Too much data creates no file.
  if ((totalSize + kChunkLength - 1) / kChunkLength > kMaxChunks) return false;
  platform::CBinaryFile file;
  return file.Open(path, platform::CBinaryFile::Mode::kCreateWrite) &&
         Begin(std::move(file), totalSize);
}

bool CDictzipWriter::Begin(platform::CBinaryFile file, uint64_t totalSize) {
  State& s = *m_state;
  s.ok = false;
  const uint64_t chunks = (totalSize + kChunkLength - 1) / kChunkLength;
  if (chunks > kMaxChunks) return false;
  s.total = totalSize;
  s.received = 0;
  s.chunkCount = static_cast<uint32_t>(chunks);
  s.sizes.clear();
  s.sizes.reserve(s.chunkCount);
  s.input.clear();
  s.input.reserve(kChunkLength);
  s.output.resize(kChunkOutputSize);
  s.crc = crc32(0L, Z_NULL, 0);
  if (!s.deflater.Init()) return false;
  s.file = std::move(file);
  // A placeholder of the final header's size; the sizes are filled in by Finish.
  const std::vector<unsigned char> header = s.Header();
  s.ok = s.file.Write(header.data(), header.size());
  return s.ok;
}

bool CDictzipWriter::FlushChunk() {
  State& s = *m_state;
  uint32_t produced = 0;
  if (!s.deflater.CompressChunk(s.input.data(), static_cast<uint32_t>(s.input.size()),
                                s.output.data(), &produced) ||
      s.sizes.size() >= s.chunkCount)
    return false;
  s.sizes.push_back(static_cast<uint16_t>(produced));
  s.input.clear();
  return s.file.Write(s.output.data(), produced);
}

bool CDictzipWriter::Add(const void* data, size_t count) {
  State& s = *m_state;
  if (!s.ok || count > s.total - s.received) return s.ok = false;
  s.crc = Crc32(static_cast<uint32_t>(s.crc), data, count);
  s.received += count;
  const auto* p = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const size_t take = std::min<size_t>(count, kChunkLength - s.input.size());
    s.input.insert(s.input.end(), p, p + take);
    p += take;
    count -= take;
    if (s.input.size() == kChunkLength && !FlushChunk()) return s.ok = false;
  }
  return true;
}

const Status& CDictzipWriter::FileError() const { return m_state->file.Error(); }

bool CDictzipWriter::Finish() {
  State& s = *m_state;
  if (!s.ok || s.received != s.total) {
    s.file.Close();
    return s.ok = false;
  }
  bool ok = s.input.empty() || FlushChunk();
  // The empty final block stays outside every chunk, so that no chunk ends the stream
  // and each one inflates alone as readers expect.
  uint32_t finishing = 0;
  ok = ok && s.sizes.size() == s.chunkCount && s.deflater.Finish(s.output.data(), &finishing);
  ok = ok && s.file.Write(s.output.data(), finishing);
  unsigned char trailer[8];
  PutLe32(trailer, static_cast<uint32_t>(s.crc));
  PutLe32(trailer + 4, static_cast<uint32_t>(s.total));  // ISIZE is the size modulo 2^32
  ok = ok && s.file.Write(trailer, sizeof trailer);
  const std::vector<unsigned char> header = s.Header();
  ok = ok && s.file.Seek(0) && s.file.Write(header.data(), header.size());
  ok = s.file.Close() && ok;
  s.ok = false;
  return ok;
}
