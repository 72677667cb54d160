// The chunked compressed layout (see dictzip.h).
//
// Every chunk is compressed by a stream of its own (level 9, raw deflate) and ended with a
// full flush; the finishing bytes are what a fresh stream gives when finished at once. The layout was
// first defined as one stream over the whole input with a full flush after every chunk,
// and the bytes are the same: a full flush that has consumed all input clears zlib's hash
// chains and moves the window start back to zero, and the block before it is closed on a
// byte boundary, so the next chunk is compressed exactly as a fresh stream would compress
// it. The tests hold the output to that single stream for every kind of input we know to
// be delicate (chunk boundaries, incompressible and highly repetitive data). Chunks that
// stand alone can be compressed by any number of threads with the same result.

#include "package/chunked_data.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include "common/byte_order.h"
#include "common/crc32.h"
#include "common/memory_fault.h"
#include "common/threads.h"
#include "package/chunk_deflater.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kMaxChunkCount = 0xFFFF;

// The destination as it is written: the table placeholder first, then the chunks in
// order, then the finishing bytes and trailer, and at last the real table over the
// placeholder.
class CLayoutWriter {
 public:
  CLayoutWriter(platform::CBinaryFile* file, uint32_t chunkCount)
      : m_file(file), m_table(kChunkTableHeadSize + kChunkTableSlotSize * static_cast<size_t>(chunkCount), 0) {
    PutLe16(m_table.data(), kChunkLength);
    PutLe16(m_table.data() + 2, chunkCount);
  }

  bool WritePlaceholder() { return m_file->Write(m_table.data(), m_table.size()); }

  bool WriteChunk(const unsigned char* data, uint32_t size) {
    if (m_nextSlot >= ChunkCount() || size > 0xFFFF) return false;
    PutLe16(m_table.data() + kChunkTableHeadSize + kChunkTableSlotSize * static_cast<size_t>(m_nextSlot), size);
    ++m_nextSlot;
    return m_file->Write(data, size);
  }

  // Writes the finishing bytes and the trailer, then the completed table.
  bool Finish(const unsigned char* finishing, uint32_t finishingSize, uint32_t crc,
              uint32_t inputSize) {
    if (m_nextSlot != ChunkCount()) return false;
    unsigned char trailer[kChunkTrailerSize];
    PutLe32(trailer, crc);
    PutLe32(trailer + 4, inputSize);
    return m_file->Write(finishing, finishingSize) && m_file->Write(trailer, sizeof(trailer)) &&
           m_file->Seek(0) && m_file->Write(m_table.data(), m_table.size());
  }

 private:
  uint32_t ChunkCount() const { return static_cast<uint32_t>((m_table.size() - kChunkTableHeadSize) / kChunkTableSlotSize); }

  platform::CBinaryFile* m_file;
  std::vector<unsigned char> m_table;
  uint32_t m_nextSlot = 0;
};

// Reads the source chunk by chunk and insists that it holds exactly the size it had when
// compression started: a file that grows or shrinks meanwhile would otherwise give a
// layout whose size, count and content disagree.
class CChunkReader {
 public:
  CChunkReader(platform::CBinaryFile* file, uint32_t size) : m_file(file), m_left(size) {}

  // Fills buffer with the next chunk (*got bytes, 0 after the last one); false on a read
  // error or when the file's length no longer matches.
  bool Next(unsigned char* buffer, uint32_t* got) {
    *got = 0;
    if (m_left == 0) {
      unsigned char extra;
      return m_file->Read(&extra, 1) == 0;
    }
    const uint32_t want = std::min(m_left, kChunkLength);
    if (m_file->Read(buffer, want) != static_cast<std::ptrdiff_t>(want)) return false;
    m_left -= want;
    *got = want;
    return true;
  }

 private:
  platform::CBinaryFile* m_file;
  uint32_t m_left;
};

// The chunks between the source and the destination. Every thread, the calling one
// included, runs the same loop: read the next chunk, compress it, and write out the
// chunks that are done, in input order. The files are read and written under the lock,
// so by one thread at a time and in order. A thread reads a new chunk only while a slot
// is free (its chunk written), so memory stays at a few chunks per thread whatever the
// input size.
class CChunkPipeline {
 public:
  CChunkPipeline(CChunkReader* reader, CLayoutWriter* writer, unsigned threads,
                 const CompressControl& control, uint32_t chunkCount)
      : m_reader(reader), m_writer(writer), m_threads(threads), m_slots(3 * size_t{threads}),
        m_control(control), m_chunkCount(chunkCount) {
    NoteLargeAllocation();
    for (Slot& slot : m_slots) {
      slot.in.resize(kChunkLength);
      slot.out.resize(kChunkOutputSize);
    }
  }

  CChunkPipeline(const CChunkPipeline&) = delete;
  CChunkPipeline& operator=(const CChunkPipeline&) = delete;

  // Compresses the whole source and finishes the layout; false when a read, a write or
  // deflate failed.
  bool Run(uint32_t inputSize) {
    {
      std::vector<CJoiningThread> others(m_threads - 1);
      for (CJoiningThread& other : others) other.Start([this] { Work(false); });
      Work(true);
    }
    if (m_failed || m_written != m_read) return false;
    return m_writer->Finish(kFinishingBytes, kFinishingSize, static_cast<uint32_t>(m_crc),
                            inputSize);
  }

  bool Cancelled() const { return m_cancelled; }

 private:
  struct Slot {
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    uLong crc = 0;
    bool done = false;  // compressed, not yet written
  };

  // reporter: the calling thread, the only one that tells of progress.
  void Work(bool reporter) {
    CChunkDeflater deflater;
    const bool ready = deflater.Init();
    uint64_t reported = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_failed && !m_inputDone) {
      // A chunk takes milliseconds: checking before each one stops every thread promptly.
      if (m_control.running && !m_control.running->load(std::memory_order_relaxed)) {
        m_cancelled = m_failed = true;
        break;
      }
      if (reporter && m_control.progress && m_written != reported) {
        reported = m_written;
        lock.unlock();
        m_control.progress(static_cast<uint32_t>(reported), m_chunkCount);
        lock.lock();
        continue;
      }
      if (m_read - m_written == m_slots.size()) {
        m_slotFreed.wait(lock);
        continue;
      }
      Slot& slot = m_slots[m_read % m_slots.size()];
      uint32_t got = 0;
      if (!m_reader->Next(slot.in.data(), &got)) {
        m_failed = true;
        break;
      }
      if (got == 0) {
        m_inputDone = true;
        break;
      }
      slot.inSize = got;
      ++m_read;
      lock.unlock();
      // Only this thread touches the slot until it is marked done.
      slot.crc = Crc32(0, slot.in.data(), got);
      const bool compressed = ready && deflater.Reset() &&
                              deflater.CompressChunk(slot.in.data(), got, slot.out.data(),
                                                     &slot.outSize);
      lock.lock();
      if (!compressed) m_failed = true;
      if (m_failed) break;
      slot.done = true;
      WriteDoneChunks();
    }
    // Threads waiting for a slot may have nothing left to wait for.
    m_slotFreed.notify_all();
  }

  // With the lock held: writes the chunks that are done, oldest first, up to the first
  // one still being compressed.
  void WriteDoneChunks() {
    const uint64_t before = m_written;
    while (m_written < m_read) {
      Slot& slot = m_slots[m_written % m_slots.size()];
      if (!slot.done) break;
      m_crc = crc32_combine(m_crc, slot.crc, static_cast<z_off_t>(slot.inSize));
      if (!m_writer->WriteChunk(slot.out.data(), slot.outSize)) {
        m_failed = true;
        break;
      }
      slot.done = false;
      ++m_written;
    }
    if (m_written != before) m_slotFreed.notify_all();
  }

  CChunkReader* const m_reader;
  CLayoutWriter* const m_writer;
  const unsigned m_threads;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_slotFreed;
  const CompressControl& m_control;
  const uint32_t m_chunkCount;
  bool m_cancelled = false;
  uint64_t m_read = 0;     // chunks read so far
  uint64_t m_written = 0;  // chunks written so far
  uLong m_crc = 0;         // of the chunks written
  bool m_inputDone = false;
  bool m_failed = false;
};

unsigned ResolveThreadCount(unsigned threads, uint32_t chunkCount) {
  return std::max(1u, std::min(ThreadCount(threads), chunkCount));
}

// Compresses into output; with a destination, output is created there first, once the
// source is known to fit, so that an input the layout cannot describe leaves nothing
// behind. Without one, output is already open for writing.
Status CompressFile(const std::wstring& source, platform::CBinaryFile& output,
                    const std::wstring& destination, unsigned threads,
                    const CompressControl& control) {
  platform::CBinaryFile input;
  if (Status opened = input.Open(source, platform::CBinaryFile::Mode::kRead); !opened) return opened;
  const int64_t size = input.Size();
  if (size < 0) return input.Error().WithPath(source);
  const auto tooBig = Status::Error(StatusKind::kTooBig, source, 0, "too large for the chunked layout");
  if (static_cast<uint64_t>(size) > kMaxCompressibleSize) return tooBig;
  const uint32_t inputSize = static_cast<uint32_t>(size);
  const uint32_t chunkCount = static_cast<uint32_t>(ChunkCountFor(inputSize));
  if (chunkCount > kMaxChunkCount) return tooBig;

  if (!destination.empty()) {
    if (Status opened = output.Open(destination, platform::CBinaryFile::Mode::kCreateWrite); !opened)
      return opened;
  }
  CLayoutWriter writer(&output, chunkCount);
  CChunkReader reader(&input, inputSize);
  bool ok = writer.WritePlaceholder();

  bool cancelled = false;
  if (ok) {
    CChunkPipeline pipeline(&reader, &writer, ResolveThreadCount(threads, chunkCount), control,
                            chunkCount);
    ok = pipeline.Run(inputSize);
    cancelled = pipeline.Cancelled();
  }
  const Status closed = output.Close();
  if (cancelled) return Status::Error(StatusKind::kCancelled);
  if (!input.Error().ok()) return input.Error();
  if (!closed.ok()) return closed;
  // Every file operation worked: deflate itself refused, or the input changed its size.
  if (!ok) return Status::Error(StatusKind::kIoError, destination, 0, "compression failed");
  return Status();
}

// Nothing is thrown across the package's boundary; running out of memory for the buffers
// is one more way for the compression to fail.
Status CompressSafely(const std::wstring& source, platform::CBinaryFile& output,
                      const std::wstring& destination, unsigned threads,
                      const CompressControl& control = {}) {
  Status result;
  try {
    result = CompressFile(source, output, destination, threads, control);
  } catch (const std::bad_alloc&) {
    result = Status::Error(StatusKind::kTooBig, source, 0, "out of memory");
  } catch (const std::exception& e) {
    result = Status::Error(StatusKind::kIoError, destination, 0, e.what());
  }
  output.Close();
  return result;
}

}  // namespace

Status CompressDataFile(const std::wstring& source, const std::wstring& destination,
                        unsigned threads) {
  platform::CBinaryFile output;
  return CompressSafely(source, output, destination, threads);
}

Status CompressDataFile(const std::wstring& source, platform::CBinaryFile* destination,
                        unsigned threads, const CompressControl& control) {
  return CompressSafely(source, *destination, {}, threads, control);
}
