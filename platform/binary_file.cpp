#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/file.h"
#include "platform/stdio_seam.h"

namespace platform {

namespace {

std::atomic<int64_t> g_writeFaultBudget{-1};

// Takes count bytes from the fault budget; false when the simulated disk is full.
bool ConsumeWriteBudget(size_t count) {
  int64_t budget = g_writeFaultBudget.load(std::memory_order_relaxed);
  if (budget < 0) return true;
  if (static_cast<uint64_t>(budget) < count) {
    g_writeFaultBudget.store(0);
    return false;
  }
  g_writeFaultBudget.fetch_sub(static_cast<int64_t>(count));
  return true;
}

FILE* AsFile(void* f) { return static_cast<FILE*>(f); }

}  // namespace

void SetWriteFaultAfter(int64_t bytes) { g_writeFaultBudget.store(bytes); }

CBinaryFile::CBinaryFile(CBinaryFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)) {}

CBinaryFile& CBinaryFile::operator=(CBinaryFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_file = std::exchange(other.m_file, nullptr);
  }
  return *this;
}

bool CBinaryFile::Open(const std::wstring& path, Mode mode) {
  Close();
  m_file = detail::OpenStdio(path, mode == Mode::kRead ? "rb" : "wb");
  return m_file != nullptr;
}

bool CBinaryFile::Write(const void* data, size_t count) {
  if (!m_file) return false;
  if (count == 0) return true;
  if (!ConsumeWriteBudget(count)) return false;
  return std::fwrite(data, 1, count, AsFile(m_file)) == count;
}

std::ptrdiff_t CBinaryFile::Read(void* buffer, size_t count) {
  if (!m_file) return -1;
  const size_t got = std::fread(buffer, 1, count, AsFile(m_file));
  if (got < count && std::ferror(AsFile(m_file))) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

bool CBinaryFile::Seek(uint64_t position) {
  return m_file && detail::SeekStdio(AsFile(m_file), static_cast<int64_t>(position), SEEK_SET);
}

int64_t CBinaryFile::Size() {
  if (!m_file) return -1;
  FILE* f = AsFile(m_file);
  const int64_t here = detail::TellStdio(f);
  if (here < 0 || !detail::SeekStdio(f, 0, SEEK_END)) return -1;
  const int64_t end = detail::TellStdio(f);
  if (!detail::SeekStdio(f, here, SEEK_SET)) return -1;
  return end;
}

bool CBinaryFile::Close() {
  if (!m_file) return true;
  FILE* f = AsFile(std::exchange(m_file, nullptr));
  const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
  const bool closed = std::fclose(f) == 0;
  return flushed && closed;
}

}  // namespace platform
