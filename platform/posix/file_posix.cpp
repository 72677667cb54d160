#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/system_error.h"

namespace platform {

// POSIX has no share modes; the file is opened for reading only.
Status CFile::Open(const std::wstring& path) {
  Close();
  m_path = path;
  m_position = 0;
  m_error = Status();
  if (const int injected = detail::InjectedSystemCode(FileOperation::kOpen, path)) {
    m_error = ErrnoStatus(StatusKind::kIoError, path, injected);
    return m_error;
  }
  do {
    m_fd = ::open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  } while (m_fd < 0 && errno == EINTR);
  if (m_fd < 0) {
    m_error = LastSystemError(StatusKind::kIoError, path);
    return m_error;
  }
  // A word list is a file or a pipe. A folder or a device (an endless /dev/zero) is none;
  // a pipe cannot seek, so what is read from it is kept as from standard input.
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    m_error = LastSystemError(StatusKind::kIoError, path);
  } else if (S_ISFIFO(st.st_mode)) {
    m_replay.Start();
  } else if (!S_ISREG(st.st_mode)) {
    m_error = Status::Error(StatusKind::kIoError, path, 0,
                            S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file");
  }
  if (!m_error.ok()) Close();
  return m_error;
}

// A duplicate, so that Close leaves the process's own descriptor 0 alone.
Status CFile::OpenStandardInput() {
  Close();
  m_path = L"-";
  m_position = 0;
  m_error = Status();
  m_fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (m_fd >= 0)
    m_replay.Start();
  else
    m_error = LastSystemError(StatusKind::kIoError, m_path);
  return m_error;
}

bool CFile::IsOpen() const { return m_fd >= 0; }

std::ptrdiff_t CFile::ReadFromSystem(void* buffer, size_t count) {
  if (m_fd < 0) return -1;
  if (const size_t kept = m_replay.Take(buffer, count)) return static_cast<std::ptrdiff_t>(kept);
  if (const int injected = detail::InjectedSystemCode(FileOperation::kRead, m_path)) {
    m_error = ErrnoStatus(StatusKind::kIoError, m_path, injected);
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(m_fd, buffer, count);
    if (got >= 0) {
      m_replay.Keep(buffer, static_cast<size_t>(got));
      return got;
    }
    if (errno != EINTR) {
      m_error = LastSystemError(StatusKind::kIoError, m_path);
      return -1;
    }
  }
}

bool CFile::SeekInSystem(uint64_t position) {
  if (m_fd < 0) return false;
  if (m_replay.Active()) return m_replay.Rewind(position);
  if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) >= 0) return true;
  m_error = LastSystemError(StatusKind::kIoError, m_path);
  return false;
}

void CFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_replay.Reset();
}

}  // namespace platform
