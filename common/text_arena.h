#pragma once
// Append-only storage for many small texts. Stored texts never move, so views of them
// stay valid for the arena's lifetime.

#include <memory>
#include <string_view>
#include <vector>

class CTextArena {
 public:
  explicit CTextArena(size_t blockSize = 1 << 20) : m_blockSize(blockSize) {}
  CTextArena(const CTextArena&) = delete;
  CTextArena& operator=(const CTextArena&) = delete;

  // Copies text into the arena and returns a view of the copy.
  std::string_view Store(std::string_view text);

  // A block of its own, of size bytes, for the caller to fill; it lives as long as the
  // arena.
  char* Allocate(size_t size);

  // Takes over other's texts, which stay where they are.
  void Adopt(CTextArena&& other);

  // Frees every text.
  void Clear();

  // Bytes held in blocks, used or not.
  size_t Capacity() const { return m_capacity; }

 private:
  size_t m_blockSize;
  std::vector<std::unique_ptr<char[]>> m_blocks;
  char* m_next = nullptr;
  size_t m_left = 0;
  size_t m_capacity = 0;
};
