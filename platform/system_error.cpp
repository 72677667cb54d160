#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

Status ErrnoStatus(StatusKind kind, const std::wstring& path, int error) {
  if (error == ENOENT && kind == StatusKind::kIoError) kind = StatusKind::kNotFound;
  const Status status = Status::Error(kind, path, error, std::strerror(error));
  // A quota that is spent leaves the user as short of space as a full disk.
  const bool full = error == ENOSPC
#ifdef EDQUOT
                    || error == EDQUOT
#endif
      ;
  return full ? status.AsDiskFull() : status;
}

}  // namespace platform
