#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/utf.h"
#include "platform/stdio_seam.h"

namespace platform::detail {

FILE* OpenStdio(const std::wstring& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}

FILE* CreateNewStdio(const std::wstring& path) {
  const int fd = ::open(WideToUtf8(path).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

bool SeekStdio(FILE* file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellStdio(FILE* file) { return static_cast<int64_t>(ftello(file)); }

bool SyncStdio(FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

void CopyAccessStdio(FILE* file, const std::wstring& original) {
  struct stat old {};
  if (::stat(WideToUtf8(original).c_str(), &old) != 0) return;  // a new file: the umask's
  const int fd = ::fileno(file);
  struct stat now {};
  if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    // Only the superuser may give a file away: a root run keeps the user's file the
    // user's. Anyone else's new file stays their own, as the old one may not have been.
    [[maybe_unused]] const int given = ::fchown(fd, old.st_uid, old.st_gid);
  }
  [[maybe_unused]] const int modeSet = ::fchmod(fd, old.st_mode & 07777);
}

}  // namespace platform::detail
