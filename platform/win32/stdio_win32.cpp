// The C runtime's wide and 64-bit file calls, so that paths keep every character and files
// larger than 2 GiB can be positioned.

#include <cstdio>

#include "platform/stdio_seam.h"

namespace platform::detail {

FILE* OpenStdio(const std::wstring& path, const char* mode) {
  if (path.empty()) return nullptr;
  std::wstring wideMode;
  for (const char* c = mode; *c; ++c) wideMode.push_back(static_cast<wchar_t>(*c));
  return _wfopen(path.c_str(), wideMode.c_str());
}

bool SeekStdio(FILE* file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

int64_t TellStdio(FILE* file) { return _ftelli64(file); }

}  // namespace platform::detail
