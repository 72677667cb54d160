// The C runtime's wide and 64-bit file calls, so that paths keep every character and files
// larger than 2 GiB can be positioned.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/stdio_seam.h"

namespace platform::detail {

FILE* OpenStdio(const std::wstring& path, const char* mode) {
  if (path.empty()) return nullptr;
  std::wstring wideMode;
  for (const char* c = mode; *c; ++c) wideMode.push_back(static_cast<wchar_t>(*c));
  return _wfopen(path.c_str(), wideMode.c_str());
}

FILE* CreateNewStdio(const std::wstring& path) {
  if (path.empty()) return nullptr;
  // _O_CREAT with _O_EXCL is CreateFileW's CREATE_NEW.
  const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _wfdopen(fd, L"wb");
  if (file == nullptr) _close(fd);
  return file;
}

bool SeekStdio(FILE* file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

int64_t TellStdio(FILE* file) { return _ftelli64(file); }

// _commit is FlushFileBuffers on the file's handle.
bool SyncStdio(FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

// A new file in the settings file's folder inherits that folder's permissions, as the old
// file did; a read-only old file is refused before we get here.
void CopyAccessStdio(FILE*, const std::wstring&) {}

}  // namespace platform::detail
