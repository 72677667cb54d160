#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf.h"
#include "platform/file.h"

namespace platform {

// POSIX has no share modes; the file is opened for reading only.
bool CFile::Open(const std::wstring& path) {
  Close();
  do {
    m_fd = ::open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  } while (m_fd < 0 && errno == EINTR);
  return m_fd >= 0;
}

// A duplicate, so that Close leaves the process's own descriptor 0 alone.
bool CFile::OpenStandardInput() {
  Close();
  m_fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (m_fd >= 0) m_replay.Start();
  return m_fd >= 0;
}

bool CFile::IsOpen() const { return m_fd >= 0; }

std::ptrdiff_t CFile::Read(void* buffer, size_t count) {
  if (m_fd < 0) return -1;
  if (const size_t kept = m_replay.Take(buffer, count)) return static_cast<std::ptrdiff_t>(kept);
  for (;;) {
    const ssize_t got = ::read(m_fd, buffer, count);
    if (got >= 0) {
      m_replay.Keep(buffer, static_cast<size_t>(got));
      return got;
    }
    if (errno != EINTR) return -1;
  }
}

bool CFile::Seek(uint64_t position) {
  if (m_replay.Active()) return m_fd >= 0 && m_replay.Rewind(position);
  return m_fd >= 0 && ::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) >= 0;
}

void CFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_replay.Reset();
}

}  // namespace platform
