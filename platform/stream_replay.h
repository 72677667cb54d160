#pragma once
// Internal to platform/: what lets CFile read standard input, which cannot seek, as if it
// were the word-list file. The reader of a word list reads ahead to decide its encoding
// and then seeks back to the start; a pipe cannot go back, so the bytes read from it are
// kept, and Seek returns to them. Once the caller says it will not seek again, the kept
// bytes are handed out a last time and freed as they go, so a list that was read ahead
// whole is not held twice while it is parsed.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::detail {

class CStreamReplay {
 public:
  // Starts keeping what is read; until then the replay does nothing.
  void Start();
  bool Active() const { return m_active; }

  // Kept bytes not yet handed out since the last Rewind, at most count of them, into out;
  // 0 when there are none left and the stream itself must be read.
  size_t Take(void* out, size_t count);
  // Bytes just read from the stream itself, kept for a later Rewind.
  void Keep(const void* data, size_t count);

  // Goes back to a position already read; false when it is beyond what was read or the
  // bytes are no longer kept.
  bool Rewind(uint64_t position);
  // No Rewind will follow: the bytes not yet handed out again are still delivered, each
  // block freed once it has been.
  void StopKeeping();

  // Forgets everything; inactive again.
  void Reset();

 private:
  std::vector<std::vector<unsigned char>> m_blocks;
  size_t m_block = 0;  // the block of the next byte to hand out
  size_t m_at = 0;     // its offset in that block
  uint64_t m_kept = 0;  // bytes read from the stream so far
  bool m_active = false;
  bool m_keeping = false;
};

}  // namespace platform::detail
