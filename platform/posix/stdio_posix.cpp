#include <cstdio>

#include "common/utf.h"
#include "platform/stdio_seam.h"

namespace platform::detail {

FILE* OpenStdio(const std::wstring& path, const char* mode) {
  return std::fopen(WideToUtf8(path).c_str(), mode);
}

bool SeekStdio(FILE* file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellStdio(FILE* file) { return static_cast<int64_t>(ftello(file)); }

}  // namespace platform::detail
