#pragma once
// One raw deflate stream with the parameters of the chunked layout (level 9, window bits
// -15, memory level 9, default strategy), compressing chunk by chunk: each chunk ends with
// a full flush, so that it inflates on its own. Used for the package's data and for the
// dictzip files of the StarDict export.

#include <zlib.h>

#include <cstdint>
#include <cstring>

// 58315 input bytes never compress to more than this, so every chunk fits both the
// buffer and its 16-bit table slot.
constexpr uint32_t kChunkOutputSize = 65535;

class CChunkDeflater {
 public:
  CChunkDeflater() = default;
  ~CChunkDeflater() {
    if (m_ready) deflateEnd(&m_stream);
  }
  CChunkDeflater(const CChunkDeflater&) = delete;
  CChunkDeflater& operator=(const CChunkDeflater&) = delete;

  // Makes the stream ready for a new run of chunks.
  bool Init() {
    if (m_ready) return Reset();
    std::memset(&m_stream, 0, sizeof(m_stream));
    m_ready = deflateInit2(&m_stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9,
                           Z_DEFAULT_STRATEGY) == Z_OK;
    return m_ready;
  }

  bool Reset() { return deflateReset(&m_stream) == Z_OK; }

  // Compresses one chunk and ends it with a full flush; the chunk's bytes go to out.
  // False when deflate reports an error or did not finish the flush in the buffer.
  bool CompressChunk(const unsigned char* in, uint32_t inSize, unsigned char* out,
                     uint32_t* outSize) {
    m_stream.next_in = const_cast<unsigned char*>(in);
    m_stream.avail_in = inSize;
    m_stream.next_out = out;
    m_stream.avail_out = kChunkOutputSize;
    const int result = deflate(&m_stream, Z_FULL_FLUSH);
    // With no output space left, zlib may still hold part of the flush.
    if (result != Z_OK || m_stream.avail_in != 0 || m_stream.avail_out == 0) return false;
    *outSize = kChunkOutputSize - m_stream.avail_out;
    return true;
  }

  // Ends the stream with its empty final block.
  bool Finish(unsigned char* out, uint32_t* outSize) {
    m_stream.next_in = nullptr;
    m_stream.avail_in = 0;
    m_stream.next_out = out;
    m_stream.avail_out = kChunkOutputSize;
    if (deflate(&m_stream, Z_FINISH) != Z_STREAM_END) return false;
    *outSize = kChunkOutputSize - m_stream.avail_out;
    return true;
  }

 private:
  z_stream m_stream{};
  bool m_ready = false;
};
