#include <fcntl.h>
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

}  // namespace platform::detail
