#pragma once
// Failures of the operating system as Status values: the error code as the system gave
// it, and its own words for it in English.

#include <string>

#include "common/status.h"

namespace platform {

// A failure of a C runtime call, from its errno value (strerror's text).
Status ErrnoStatus(StatusKind kind, const std::wstring& path, int error);

// A failure of the system call that failed last on this thread: errno on POSIX,
// GetLastError on Windows. kNotFound when the file or its folder is missing.
Status LastSystemError(StatusKind kind, const std::wstring& path);

}  // namespace platform
