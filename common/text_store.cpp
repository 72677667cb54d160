#include "common/text_store.h"

#include <algorithm>
#include <cstring>

#include "common/memory_fault.h"

bool CTextStore::NewBlock(size_t size, char** block, uint32_t* at) {
  const uint64_t pages = (size + kPageMask) >> kPageBits;
  const uint64_t first = m_pages.size();
  if ((first + pages) << kPageBits > (uint64_t{1} << 32)) return false;
  NoteLargeAllocation();
  // Grown by doubling: a store of many blocks must not copy its table for every block.
  if (m_pages.capacity() < first + pages) m_pages.reserve(std::max<size_t>(first + pages, 2 * m_pages.capacity()));
  m_blocks.push_back(std::unique_ptr<char[]>(new char[size]));
  char* const base = m_blocks.back().get();
  for (uint64_t p = 0; p < pages; ++p) m_pages.push_back(base + (p << kPageBits));
  m_capacity += size;
  *block = base;
  *at = static_cast<uint32_t>(first << kPageBits);
  return true;
}

bool CTextStore::Add(std::string_view text, uint32_t* at) {
  if (text.empty()) {
    *at = 0;
    return true;
  }
  if (text.size() > kSharedTextLimit) {
    char* block = nullptr;
    if (!NewBlock(text.size(), &block, at)) return false;
    std::memcpy(block, text.data(), text.size());
    return true;
  }
  if (text.size() > m_left) {
    // The rest of the current block stays unused: texts never straddle two blocks.
    if (!NewBlock(kBlockSize, &m_next, &m_nextAt)) return false;
    m_left = kBlockSize;
  }
  std::memcpy(m_next, text.data(), text.size());
  *at = m_nextAt;
  m_next += text.size();
  m_nextAt += static_cast<uint32_t>(text.size());
  m_left -= text.size();
  return true;
}
