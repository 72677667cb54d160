// File status, deletion, renaming and the current directory through the wide Windows API.

#include <windows.h>
#include <direct.h>
#include <shlwapi.h>

// <windows.h> names ReplaceFileW "ReplaceFile"; ours is platform::ReplaceFile.
#undef ReplaceFile

#include "platform/atomic_file.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

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

std::wstring FullPath(const std::wstring& path) {
  DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  full.resize(written < needed ? written : 0);
  return full.empty() ? path : full;
}

int64_t FileTimeToUnixNanoseconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (static_cast<int64_t>(ticks) - kFileTimeUnixEpoch) * 100;
}

bool HandleInformation(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = ::GetFileInformationByHandle(file, info) != FALSE;
  ::CloseHandle(file);
  return ok;
}

// The path of the open file as the system names it, links resolved, without the "\\?\"
// that GetFinalPathNameByHandleW puts before it; empty when the file cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
  HANDLE file =
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= final.size()) {
    final.resize(length);
    length = ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  ::CloseHandle(file);
  final.resize(length < final.size() ? length : 0);
  if (final.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + final.substr(8);
  if (final.starts_with(L"\\\\?\\")) return final.substr(4);
  return final;
}

}  // namespace

std::wstring ResolvedPath(const std::wstring& path) {
  if (std::wstring final = FinalPath(path); !final.empty()) return final;
  const std::wstring full = FullPath(path);
  const size_t separator = full.find_last_of(L"\\/");
  if (separator != std::wstring::npos) {
    const std::wstring folder = FinalPath(full.substr(0, separator + 1));
    if (!folder.empty()) {
      const bool ends = folder.back() == L'\\';
      return folder + (ends ? L"" : L"\\") + full.substr(separator + 1);
    }
  }
  return full;
}

namespace detail {

Status ReplacementTarget(const std::wstring& path, std::wstring* target) {
  *target = path;
  if (const int injected = InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return Status();  // a new file
    return LastSystemError(StatusKind::kIoError, path);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // The link stays; the file it points to is the one replaced.
    *target = FinalPath(path);
    if (target->empty()) return LastSystemError(StatusKind::kIoError, path);
    attributes = ::GetFileAttributesW(target->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemError(StatusKind::kIoError, path);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return Status::Error(StatusKind::kIoError, path, 0, "not a regular file");
  // MoveFileExW would replace a read-only file all the same; the attribute is the
  // user's wish to keep it as it is.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return LastSystemError(StatusKind::kIoError, path);
  }
  return Status();
}

}  // namespace detail

bool QueryFileStatus(const std::wstring& path, FileStatus* status) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  status->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status->modifiedTime = FileTimeToUnixSeconds(data.ftLastWriteTime);
  status->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

Status QueryFileIdentity(const std::wstring& path, FileIdentity* identity) {
  *identity = FileIdentity();
  if (const int injected = detail::InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  if (path.empty()) return Status();
  BY_HANDLE_FILE_INFORMATION info{};
  if (HandleInformation(path, &info)) {
    identity->volume = info.dwVolumeSerialNumber;
    identity->fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status();
    // A handle even without access to the data can be refused (a file being deleted, a
    // program that denies any sharing on an old system): the attributes still tell the
    // size and the time of the last write.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
      if (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND)
        return Status();
      return LastSystemError(StatusKind::kIoError, path);
    }
    info.dwFileAttributes = data.dwFileAttributes;
    info.nFileSizeHigh = data.nFileSizeHigh;
    info.nFileSizeLow = data.nFileSizeLow;
    info.ftLastWriteTime = data.ftLastWriteTime;
  }
  identity->exists = true;
  identity->isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  identity->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity->modifiedNs = FileTimeToUnixNanoseconds(info.ftLastWriteTime);
  return Status();
}

bool PathExists(const std::wstring& path) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return false;
  }
  return !path.empty() && PathFileExistsW(path.c_str()) != 0;
}

FileKind QueryFileKind(const std::wstring& path, bool* isLink) {
  if (isLink) *isLink = false;
  if (path.empty()) return FileKind::kMissing;
  if (const int injected = detail::InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return FileKind::kMissing;
  }
  // The device namespace holds pipes and devices only. Opening a pipe to look at it would
  // connect to its server, so the name alone tells.
  if (path.starts_with(L"\\\\.\\")) return FileKind::kStream;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (isLink) *isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::kFolder;
  }
  // NUL, CON and the other names of devices are in every folder; only the open handle
  // tells them from files.
  HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return attributes == INVALID_FILE_ATTRIBUTES ? FileKind::kMissing : FileKind::kRegular;
  const DWORD type = ::GetFileType(file);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool folder = type == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  ::CloseHandle(file);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return FileKind::kStream;
  return folder ? FileKind::kFolder : FileKind::kRegular;
}

Status CreateFolder(const std::wstring& path) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kOpen, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  if (::CreateDirectoryW(path.c_str(), nullptr) != 0) return Status();
  const DWORD error = ::GetLastError();
  const Status failed = LastSystemError(StatusKind::kIoError, path);
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
             ? failed.WithKind(StatusKind::kAlreadyExists)
             : failed;
}

Status RemoveFolder(const std::wstring& path) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kDelete, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  if (::RemoveDirectoryW(path.c_str()) != 0) return Status();
  return LastSystemError(StatusKind::kIoError, path);
}

Status ListFolder(const std::wstring& path, std::vector<std::wstring>* names) {
  names->clear();
  if (const int injected = detail::InjectedSystemCode(FileOperation::kQuery, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return LastSystemError(StatusKind::kIoError, path);
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names->push_back(name);
  } while (::FindNextFileW(search, &found) != 0);
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error == ERROR_NO_MORE_FILES) return Status();
  ::SetLastError(error);
  return LastSystemError(StatusKind::kIoError, path);
}

Status MoveToFreeName(const std::wstring& from, const std::wstring& to) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kRename, to)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, to);
  }
  // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name. A refusal because
  // someone has the file open for a moment is tried again, as ReplaceFile does.
  constexpr int kAttempts = 50;
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(), 0) != 0) return Status();
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
      return LastSystemError(StatusKind::kAlreadyExists, to);
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == kAttempts)
      break;
    ::Sleep(20);
  }
  return LastSystemError(StatusKind::kIoError, to);
}

// Windows has no call that trades two names in one step.
Status ExchangeFolders(const std::wstring&, const std::wstring& b) {
  return Status::Error(StatusKind::kInvalidArgument, b, 0, "cannot exchange folders here");
}

Status RemoveFile(const std::wstring& path) {
  if (path.empty()) return Status::Error(StatusKind::kNotFound, path, 0, "empty path");
  if (const int injected = detail::InjectedSystemCode(FileOperation::kDelete, path)) {
    SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  if (DeleteFileW(path.c_str()) != 0) return Status();
  return LastSystemError(StatusKind::kIoError, path);
}

Status ReplaceFile(const std::wstring& from, const std::wstring& to) {
  // Not the Win32 ReplaceFileW: that one wants the destination to exist already. Both
  // files live in the same folder, so the move is a rename.
  if (from.empty() || to.empty()) return Status::Error(StatusKind::kNotFound, to, 0, "empty path");
  if (const int injected = detail::InjectedSystemCode(FileOperation::kRename, to)) {
    SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, to);
  }
  // Windows refuses to replace a file that anyone has open, if only for a moment (a virus
  // scanner, LumoDict reading its settings, another registration resolving the path
  // before it waits for the lock); such a refusal is tried again for about a second
  // before it counts.
  constexpr int kAttempts = 50;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return Status();
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == kAttempts)
      break;
    Sleep(20);
  }
  return LastSystemError(StatusKind::kIoError, to);
}

bool IsSameFile(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  const std::wstring fullA = FullPath(a);
  const std::wstring fullB = FullPath(b);
  if (::CompareStringOrdinal(fullA.c_str(), static_cast<int>(fullA.size()), fullB.c_str(),
                             static_cast<int>(fullB.size()), TRUE) == CSTR_EQUAL)
    return true;
  BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
  return HandleInformation(a, &infoA) && HandleInformation(b, &infoB) &&
         infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
         infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
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
