#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "common/utf.h"
#include "platform/fault_injection.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace platform {

Status CFileLock::Lock(const std::wstring& path) {
  Unlock();
  if (const int injected = detail::InjectedErrno(FileOperation::kLock, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  const std::string file = WideToUtf8(ResolvedPath(path));
  const std::wstring lockPath = Utf8ToWideText(file + ".lock");
  // Read access is all flock needs, so a lock file made by another user (root, say) can
  // still be opened. O_NOFOLLOW: a link put there is refused, never followed to create a
  // file elsewhere.
  const int fd = ::open(WideToUtf8(lockPath).c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                        0644);
  if (fd < 0) return LastSystemError(StatusKind::kIoError, lockPath);
  // A root run must not leave a lock file its user cannot open.
  struct stat owner {};
  struct stat mine {};
  if (::stat(file.c_str(), &owner) == 0 && ::fstat(fd, &mine) == 0 && mine.st_uid != owner.st_uid) {
    [[maybe_unused]] const int given = ::fchown(fd, owner.st_uid, owner.st_gid);
  }

  // Polled rather than blocking, so that a holder that hangs costs a failed registration
  // and not a hung program.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileLockWaitMilliseconds);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      m_fd = fd;
      return Status();
    }
    const int error = errno;
    if (error != EWOULDBLOCK && error != EINTR) {
      ::close(fd);
      return ErrnoStatus(StatusKind::kIoError, lockPath, error);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return Status::Error(StatusKind::kIoError, path, 0, "held by another process");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

void CFileLock::Unlock() {
  if (m_fd < 0) return;
  // Closing the descriptor releases the lock.
  ::close(m_fd);
  m_fd = -1;
}

Status CFolderLock::TryLock(const std::wstring& folder) {
  Unlock();
  if (const int injected = detail::InjectedErrno(FileOperation::kLock, folder))
    return ErrnoStatus(StatusKind::kIoError, folder, injected);
  const int fd = ::open(WideToUtf8(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LastSystemError(StatusKind::kIoError, folder);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return ErrnoStatus(error == EWOULDBLOCK ? StatusKind::kAlreadyExists : StatusKind::kIoError,
                       folder, error);
  }
  m_fd = fd;
  return Status();
}

void CFolderLock::Unlock() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

}  // namespace platform
