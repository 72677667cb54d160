// File status, deletion, renaming and the current directory through the wide Windows API.

#include <windows.h>
#include <direct.h>
#include <shlwapi.h>

// <windows.h> names ReplaceFileW "ReplaceFile"; ours is platform::ReplaceFile.
#undef ReplaceFile

#include "platform/file_system.h"

namespace platform {

namespace {

// FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
constexpr int64_t kFileTimeTicksPerSecond = 10000000;
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000;  // 1970-01-01 in FILETIME ticks

int64_t FileTimeToUnixSeconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const int64_t sinceEpoch = static_cast<int64_t>(ticks) - kFileTimeUnixEpoch;
  // Round towards minus infinity, as a Unix timestamp does for times before 1970.
  int64_t seconds = sinceEpoch / kFileTimeTicksPerSecond;
  if (sinceEpoch % kFileTimeTicksPerSecond < 0) --seconds;
  return seconds;
}

}  // namespace

bool QueryFileStatus(const std::wstring& path, FileStatus* status) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  status->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status->modifiedTime = FileTimeToUnixSeconds(data.ftLastWriteTime);
  status->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

bool PathExists(const std::wstring& path) {
  return !path.empty() && PathFileExistsW(path.c_str()) != 0;
}

bool RemoveFile(const std::wstring& path) {
  return !path.empty() && DeleteFileW(path.c_str()) != 0;
}

bool ReplaceFile(const std::wstring& from, const std::wstring& to) {
  // Not the Win32 ReplaceFileW: that one wants the destination to exist already. Both
  // files live in the same folder, so the move is a rename.
  return !from.empty() && !to.empty() &&
         MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::wstring CurrentDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);  // too small: length is the size needed, terminator included
  }
  // Windows already omits the trailing backslash except at a root such as "C:\".
  if (buffer.size() > 3 && buffer.back() == L'\\') buffer.pop_back();
  return buffer;
}

bool ChangeDirectory(const std::wstring& path) {
  return !path.empty() && _wchdir(path.c_str()) == 0;
}

}  // namespace platform
