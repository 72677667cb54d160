// The word-list file through the Windows file API: opened with share mode 0, so that no
// other program can change or delete the word list while a conversion reads it.

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/system_error.h"

namespace platform {

namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

// ReadFile takes a 32-bit count; larger requests are served in steps of this size.
constexpr size_t kMaxReadStep = 1u << 30;

}  // namespace

Status CFile::Open(const std::wstring& path) {
  Close();
  m_path = path;
  m_position = 0;
  m_error = Status();
  if (path.empty()) {
    m_error = Status::Error(StatusKind::kNotFound, path, 0, "empty path");
    return m_error;
  }
  if (const int injected = detail::InjectedSystemCode(FileOperation::kOpen, path)) {
    SetLastError(static_cast<DWORD>(injected));
    m_error = LastSystemError(StatusKind::kIoError, path);
    return m_error;
  }
  m_handle = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsOpen()) {
    m_error = LastSystemError(StatusKind::kIoError, path);
    return m_error;
  }
  // A word list is a file or a pipe, not a device such as CON or NUL; a pipe cannot seek,
  // so what is read from it is kept as from standard input.
  const DWORD type = GetFileType(AsHandle(m_handle));
  if (type == FILE_TYPE_PIPE) {
    m_replay.Start();
  } else if (type != FILE_TYPE_DISK) {
    m_error = Status::Error(StatusKind::kIoError, path, 0, "not a regular file");
    Close();
  }
  return m_error;
}

// A duplicate of the standard input handle, so that Close leaves the process's own alone.
Status CFile::OpenStandardInput() {
  Close();
  m_path = L"-";
  m_position = 0;
  m_error = Status();
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    m_error = Status::Error(StatusKind::kNotFound, m_path, 0, "no standard input");
    return m_error;
  }
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    m_error = LastSystemError(StatusKind::kIoError, m_path);
    return m_error;
  }
  m_handle = copy;
  m_replay.Start();
  return m_error;
}

bool CFile::IsOpen() const { return AsHandle(m_handle) != INVALID_HANDLE_VALUE; }

std::ptrdiff_t CFile::ReadFromSystem(void* buffer, size_t count) {
  if (!IsOpen()) return -1;
  if (const size_t kept = m_replay.Take(buffer, count)) return static_cast<std::ptrdiff_t>(kept);
  if (const int injected = detail::InjectedSystemCode(FileOperation::kRead, m_path)) {
    SetLastError(static_cast<DWORD>(injected));
    m_error = LastSystemError(StatusKind::kIoError, m_path);
    return -1;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  size_t total = 0;
  while (total < count) {
    const DWORD step = static_cast<DWORD>(std::min(count - total, kMaxReadStep));
    DWORD got = 0;
    if (!ReadFile(AsHandle(m_handle), out + total, step, &got, nullptr)) {
      // A pipe whose writer has closed its end reports that as a failure: it is the end.
      if (GetLastError() == ERROR_BROKEN_PIPE) break;
      // Bytes already delivered are still good; the failure shows on the next call.
      if (total > 0) break;
      m_error = LastSystemError(StatusKind::kIoError, m_path);
      return -1;
    }
    total += got;
    if (got < step) break;  // end of file, or all that a pipe holds for now
  }
  m_replay.Keep(out, total);
  return static_cast<std::ptrdiff_t>(total);
}

bool CFile::SeekInSystem(uint64_t position) {
  if (m_replay.Active()) return IsOpen() && m_replay.Rewind(position);
  if (!IsOpen() || position > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  if (SetFilePointerEx(AsHandle(m_handle), distance, nullptr, FILE_BEGIN) != 0) return true;
  m_error = LastSystemError(StatusKind::kIoError, m_path);
  return false;
}

void CFile::Close() {
  if (IsOpen()) CloseHandle(AsHandle(m_handle));
  m_handle = INVALID_HANDLE_VALUE;
  m_replay.Reset();
}

}  // namespace platform
