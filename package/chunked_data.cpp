// The chunked compressed layout (see dictzip.h).
//
// One thread: a single raw deflate stream over the whole input, ended with a full flush
// after every chunk, exactly as the layout was first defined.
//
// Several threads: every chunk gets a stream of its own with the same parameters, also
// ended with a full flush. A full flush that has consumed all input clears zlib's hash
// chains and moves the window start back to zero, and the block before it is closed on a
// byte boundary; the next chunk is therefore compressed exactly as a fresh stream would
// compress it, and the concatenated chunks are byte for byte the single stream. The
// tests check that claim against the single stream for every kind of input we know to
// be delicate (chunk boundaries, incompressible and highly repetitive data).

#include "package/chunked_data.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/threads.h"
#include "package/chunk_deflater.h"
#include "package/crc32.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kMaxChunkCount = 0xFFFF;

// The destination as it is written: the table placeholder first, then the chunks in
// order, then the finishing bytes and trailer, and at last the real table over the
// placeholder.
class CLayoutWriter {
 public:
  CLayoutWriter(platform::CBinaryFile* file, uint32_t chunkCount)
      : m_file(file), m_table(4 + 2 * static_cast<size_t>(chunkCount), 0) {
    PutLe16(m_table.data(), kChunkLength);
    PutLe16(m_table.data() + 2, chunkCount);
  }

  bool WritePlaceholder() { return m_file->Write(m_table.data(), m_table.size()); }

  bool WriteChunk(const unsigned char* data, uint32_t size) {
    if (m_nextSlot >= ChunkCount() || size > 0xFFFF) return false;
    PutLe16(m_table.data() + 4 + 2 * static_cast<size_t>(m_nextSlot), size);
    ++m_nextSlot;
    return m_file->Write(data, size);
  }

  // Writes the finishing bytes and the trailer, then the completed table.
  bool Finish(const unsigned char* finishing, uint32_t finishingSize, uint32_t crc,
              uint32_t inputSize) {
    if (m_nextSlot != ChunkCount()) return false;
    unsigned char trailer[8];
    PutLe32(trailer, crc);
    PutLe32(trailer + 4, inputSize);
    return m_file->Write(finishing, finishingSize) && m_file->Write(trailer, sizeof(trailer)) &&
           m_file->Seek(0) && m_file->Write(m_table.data(), m_table.size());
  }

 private:
  uint32_t ChunkCount() const { return static_cast<uint32_t>((m_table.size() - 4) / 2); }

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

bool CompressSingleStream(CChunkReader& reader, CLayoutWriter& writer, uint32_t inputSize) {
  CChunkDeflater deflater;
  if (!deflater.Init()) return false;
  std::vector<unsigned char> in(kChunkLength);
  std::vector<unsigned char> out(kChunkOutputSize);
  uint32_t crc = 0;
  for (;;) {
    uint32_t got = 0;
    if (!reader.Next(in.data(), &got)) return false;
    if (got == 0) break;
    crc = Crc32(crc, in.data(), got);
    uint32_t outSize = 0;
    if (!deflater.CompressChunk(in.data(), got, out.data(), &outSize) ||
        !writer.WriteChunk(out.data(), outSize)) {
      return false;
    }
  }
  uint32_t finishSize = 0;
  return deflater.Finish(out.data(), &finishSize) &&
         writer.Finish(out.data(), finishSize, static_cast<uint32_t>(crc), inputSize);
}

// Chunks in flight between the reading thread and the compressing threads. The reading
// thread fills slots in input order and writes them out in the same order; a slot is
// reused only after its chunk has been written, so memory stays at a few chunks per
// thread whatever the input size.
class CChunkPipeline {
 public:
  explicit CChunkPipeline(size_t slots) : m_slots(slots) {
    for (Slot& slot : m_slots) {
      slot.in.resize(kChunkLength);
      slot.out.resize(kChunkOutputSize);
    }
  }

  // Starts up to `threads` compressing threads; returns how many could be started.
  unsigned Start(unsigned threads) {
    try {
      for (unsigned i = 0; i < threads; ++i) m_workers.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // Fewer threads only make it slower: the output does not depend on their number.
    }
    return static_cast<unsigned>(m_workers.size());
  }

  ~CChunkPipeline() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers) worker.join();
  }

  CChunkPipeline(const CChunkPipeline&) = delete;
  CChunkPipeline& operator=(const CChunkPipeline&) = delete;

  bool Run(CChunkReader& reader, CLayoutWriter& writer, uint32_t inputSize) {
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t next = 0;     // sequence number of the next chunk to read
    uint64_t written = 0;  // chunks already written
    bool inputDone = false;
    while (!inputDone || written < next) {
      // The oldest chunk is written when its slot is needed again or the input is over.
      const bool slotNeeded = !inputDone && next - written == m_slots.size();
      if (slotNeeded || (inputDone && written < next)) {
        Slot& slot = m_slots[written % m_slots.size()];
        if (!WaitDone(slot)) return false;
        crc = crc32_combine(crc, slot.crc, static_cast<z_off_t>(slot.inSize));
        if (!writer.WriteChunk(slot.out.data(), slot.outSize)) return false;
        Release(slot);
        ++written;
        continue;
      }
      Slot& slot = m_slots[next % m_slots.size()];
      uint32_t got = 0;
      if (!reader.Next(slot.in.data(), &got)) return false;
      if (got == 0) {
        inputDone = true;
        continue;
      }
      slot.inSize = got;
      Submit(slot);
      ++next;
    }
    // A fresh stream finishing at once gives the same empty final block as the single
    // stream does after its last full flush.
    CChunkDeflater finisher;
    unsigned char finishing[16];
    std::vector<unsigned char> out(kChunkOutputSize);
    uint32_t finishSize = 0;
    if (!finisher.Init() || !finisher.Finish(out.data(), &finishSize) ||
        finishSize > sizeof(finishing)) {
      return false;
    }
    std::memcpy(finishing, out.data(), finishSize);
    return writer.Finish(finishing, finishSize, static_cast<uint32_t>(crc), inputSize);
  }

 private:
  enum class SlotState { kFree, kQueued, kDone };

  struct Slot {
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    uLong crc = 0;
    bool ok = false;
    SlotState state = SlotState::kFree;
  };

  void Submit(Slot& slot) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      slot.state = SlotState::kQueued;
      m_queue.push_back(&slot);
    }
    m_wake.notify_one();
  }

  bool WaitDone(Slot& slot) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [&slot] { return slot.state == SlotState::kDone; });
    return slot.ok;
  }

  void Release(Slot& slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    slot.state = SlotState::kFree;
  }

  void WorkerLoop() {
    CChunkDeflater deflater;
    const bool ready = deflater.Init();
    for (;;) {
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        // Chunks still queued when the run is abandoned are not wanted any more.
        if (m_stopping) return;
        slot = m_queue.front();
        m_queue.pop_front();
      }
      // Only this thread touches a queued slot until it is marked done.
      slot->crc = Crc32(0, slot->in.data(), slot->inSize);
      slot->ok = ready && deflater.Reset() &&
                 deflater.CompressChunk(slot->in.data(), slot->inSize, slot->out.data(),
                                        &slot->outSize);
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot->state = SlotState::kDone;
      }
      m_finished.notify_all();
    }
  }

  std::vector<Slot> m_slots;
  std::vector<std::thread> m_workers;
  std::deque<Slot*> m_queue;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_finished;
  bool m_stopping = false;
};

unsigned ResolveThreadCount(unsigned threads, uint32_t chunkCount) {
  return std::max(1u, std::min(ThreadCount(threads), chunkCount));
}

bool CompressFile(const std::wstring& source, const std::wstring& destination,
                  unsigned threads) {
  platform::CBinaryFile input;
  if (!input.Open(source, platform::CBinaryFile::Mode::kRead)) return false;
  // The size is taken before the destination exists, so that an input the layout cannot
  // describe leaves nothing behind.
  const int64_t size = input.Size();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxCompressibleSize) return false;
  const uint32_t inputSize = static_cast<uint32_t>(size);
  const uint32_t chunkCount = inputSize / kChunkLength + (inputSize % kChunkLength != 0);
  if (chunkCount > kMaxChunkCount) return false;

  platform::CBinaryFile output;
  if (!output.Open(destination, platform::CBinaryFile::Mode::kCreateWrite)) return false;
  CLayoutWriter writer(&output, chunkCount);
  CChunkReader reader(&input, inputSize);
  if (!writer.WritePlaceholder()) return false;

  const unsigned workers = ResolveThreadCount(threads, chunkCount);
  bool ok = false;
  if (workers <= 1) {
    ok = CompressSingleStream(reader, writer, inputSize);
  } else {
    // Enough chunks queued that no thread waits on the reading and writing thread.
    CChunkPipeline pipeline(3 * static_cast<size_t>(workers));
    if (pipeline.Start(workers) > 0)
      ok = pipeline.Run(reader, writer, inputSize);
    else
      ok = CompressSingleStream(reader, writer, inputSize);
  }
  const bool closed = output.Close();
  return ok && closed;
}

}  // namespace

bool CompressDataFile(const std::wstring& source, const std::wstring& destination,
                      unsigned threads) {
  // Nothing is thrown across the package's boundary; running out of memory for the
  // buffers is one more way for the compression to fail.
  try {
    return CompressFile(source, destination, threads);
  } catch (const std::exception&) {
    return false;
  }
}
