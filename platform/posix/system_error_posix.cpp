#include <cerrno>

#include "platform/system_error.h"

namespace platform {

Status LastSystemError(StatusKind kind, const std::wstring& path) {
  return ErrnoStatus(kind, path, errno);
}

}  // namespace platform
