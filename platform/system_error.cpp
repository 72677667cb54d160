#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

Status ErrnoStatus(StatusKind kind, const std::wstring& path, int error) {
  if (error == ENOENT && kind == StatusKind::kIoError) kind = StatusKind::kNotFound;
  return Status::Error(kind, path, error, std::strerror(error));
}

}  // namespace platform
