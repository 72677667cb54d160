#pragma once
// Many small texts back to back, each addressed by a 32-bit position, so that a record
// that names one needs four bytes for it instead of a pointer. Texts are kept in blocks
// of a megabyte (a larger text gets a block of its own) and never move; a position is
// turned into an address through a table of 4 KiB pages, so a text lies whole in one
// block and viewing it costs one table lookup.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class CTextStore {
 public:
  CTextStore() = default;
  CTextStore(CTextStore&&) = default;
  CTextStore& operator=(CTextStore&&) = default;

  // Copies text in and sets *at to its position; false, storing nothing, once the
  // positions would pass 4 GiB. An empty text takes no room.
  bool Add(std::string_view text, uint32_t* at);

  std::string_view View(uint32_t at, uint32_t length) const {
    if (length == 0) return {};
    return {m_pages[at >> kPageBits] + (at & kPageMask), length};
  }

  // Bytes held in blocks, used or not.
  uint64_t Capacity() const { return m_capacity; }

 private:
  static constexpr int kPageBits = 12;
  static constexpr uint32_t kPageMask = (1u << kPageBits) - 1;
  static constexpr size_t kBlockSize = size_t{1} << 20;
  // Larger texts get blocks of their own, so that a block wastes at most this at its end.
  static constexpr size_t kSharedTextLimit = kBlockSize / 16;

  // A new block of size bytes at the next free page; false when the positions run out.
  bool NewBlock(size_t size, char** block, uint32_t* at);

  std::vector<std::unique_ptr<char[]>> m_blocks;
  std::vector<char*> m_pages;
  char* m_next = nullptr;
  size_t m_left = 0;
  uint32_t m_nextAt = 0;
  uint64_t m_capacity = 0;
};
