#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "common/utf.h"
#include "platform/file_system.h"

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

bool RemoveFile(const std::wstring& path) { return ::unlink(WideToUtf8(path).c_str()) == 0; }

bool ReplaceFile(const std::wstring& from, const std::wstring& to) {
  return std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
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
