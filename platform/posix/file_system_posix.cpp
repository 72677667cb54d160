#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "common/utf.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace platform {

bool QueryFileStatus(const std::wstring& path, FileStatus* status) {
  struct stat st {};
  if (::stat(WideToUtf8(path).c_str(), &st) != 0) return false;
  status->size = static_cast<uint64_t>(st.st_size);
  status->modifiedTime = static_cast<int64_t>(st.st_mtime);
  status->isDirectory = S_ISDIR(st.st_mode);
  return true;
}

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(WideToUtf8(path).c_str(), &st) == 0;
}

Status RemoveFile(const std::wstring& path) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kDelete, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  if (::unlink(WideToUtf8(path).c_str()) == 0) return Status();
  return LastSystemError(StatusKind::kIoError, path);
}

Status ReplaceFile(const std::wstring& from, const std::wstring& to) {
  if (const int injected = detail::InjectedSystemCode(FileOperation::kRename, to))
    return ErrnoStatus(StatusKind::kIoError, to, injected);
  if (std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0) return Status();
  return LastSystemError(StatusKind::kIoError, to);
}

bool IsSameFile(const std::wstring& a, const std::wstring& b) {
  struct stat sa {}, sb {};
  if (a.empty() || b.empty()) return false;
  if (::stat(WideToUtf8(a).c_str(), &sa) != 0 || ::stat(WideToUtf8(b).c_str(), &sb) != 0)
    return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::wstring CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return Utf8ToWideText(buffer.data());
}

bool ChangeDirectory(const std::wstring& path) {
  return !path.empty() && ::chdir(WideToUtf8(path).c_str()) == 0;
}

}  // namespace platform
