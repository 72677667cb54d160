#include "platform/stream_replay.h"

#include <algorithm>
#include <cstring>

namespace platform::detail {

namespace {

// Kept bytes are gathered in blocks this large: big enough that the allocator returns
// each to the system when it is freed, so the memory is there for the parsed entries.
constexpr size_t kBlockSize = 1 << 20;

}  // namespace

void CStreamReplay::Start() {
  Reset();
  m_active = true;
  m_keeping = true;
}

size_t CStreamReplay::Take(void* out, size_t count) {
  // Blocks are never empty, so the first one with bytes left is the current one.
  while (m_block < m_blocks.size()) {
    std::vector<unsigned char>& block = m_blocks[m_block];
    if (m_at < block.size()) {
      const size_t n = std::min(count, block.size() - m_at);
      std::memcpy(out, block.data() + m_at, n);
      m_at += n;
      return n;
    }
    if (!m_keeping) std::vector<unsigned char>().swap(block);
    ++m_block;
    m_at = 0;
  }
  return 0;
}

void CStreamReplay::Keep(const void* data, size_t count) {
  if (!m_active || count == 0) return;
  m_kept += count;
  if (!m_keeping) return;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    if (m_blocks.empty() || m_blocks.back().size() == kBlockSize) {
      m_blocks.emplace_back();
      m_blocks.back().reserve(kBlockSize);
    }
    std::vector<unsigned char>& block = m_blocks.back();
    const size_t n = std::min(count, kBlockSize - block.size());
    block.insert(block.end(), bytes, bytes + n);
    bytes += n;
    count -= n;
  }
  // The stream is read only when every kept byte has been handed out: the new bytes have
  // just been delivered too.
  m_block = m_blocks.size() - 1;
  m_at = m_blocks.back().size();
}

bool CStreamReplay::Rewind(uint64_t position) {
  if (!m_keeping || position > m_kept) return false;
  m_block = 0;
  while (m_block < m_blocks.size() && position >= m_blocks[m_block].size()) {
    position -= m_blocks[m_block].size();
    ++m_block;
  }
  m_at = static_cast<size_t>(position);
  return true;
}

void CStreamReplay::StopKeeping() {
  if (!m_keeping) return;
  m_keeping = false;
  for (size_t i = 0; i < m_block && i < m_blocks.size(); ++i)
    std::vector<unsigned char>().swap(m_blocks[i]);
}

void CStreamReplay::Reset() {
  m_blocks.clear();
  m_block = 0;
  m_at = 0;
  m_kept = 0;
  m_active = false;
  m_keeping = false;
}

}  // namespace platform::detail
