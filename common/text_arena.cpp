#include "common/text_arena.h"

#include <cstring>

#include "common/memory_fault.h"

std::string_view CTextArena::Store(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > m_left) {
    // A text larger than a block gets a block of its own; the current block stays open
    // for the small texts that follow.
    NoteLargeAllocation();
    if (text.size() > m_blockSize / 4) {
      m_blocks.push_back(std::unique_ptr<char[]>(new char[text.size()]));
      m_capacity += text.size();
      std::memcpy(m_blocks.back().get(), text.data(), text.size());
      return {m_blocks.back().get(), text.size()};
    }
    m_blocks.push_back(std::unique_ptr<char[]>(new char[m_blockSize]));
    m_capacity += m_blockSize;
    m_next = m_blocks.back().get();
    m_left = m_blockSize;
  }
  std::memcpy(m_next, text.data(), text.size());
  const std::string_view stored(m_next, text.size());
  m_next += text.size();
  m_left -= text.size();
  return stored;
}

char* CTextArena::Allocate(size_t size) {
  NoteLargeAllocation();
  m_blocks.push_back(std::unique_ptr<char[]>(new char[size]));
  m_capacity += size;
  return m_blocks.back().get();
}

void CTextArena::Adopt(CTextArena&& other) {
  for (auto& block : other.m_blocks) m_blocks.push_back(std::move(block));
  m_capacity += other.m_capacity;
  other.m_blocks.clear();
  other.m_next = nullptr;
  other.m_left = 0;
  other.m_capacity = 0;
}

void CTextArena::Clear() {
  m_blocks.clear();
  m_next = nullptr;
  m_left = 0;
  m_capacity = 0;
}
