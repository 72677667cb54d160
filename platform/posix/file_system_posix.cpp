#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/utf.h"
#include "platform/atomic_file.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace platform {

bool QueryFileStatus(const std::wstring& path, FileStatus* status) {
  if (const int injected = detail::InjectedErrno(FileOperation::kQuery, path)) {
    errno = injected;
    return false;
  }
  struct stat st {};
  if (::stat(WideToUtf8(path).c_str(), &st) != 0) return false;
  status->size = static_cast<uint64_t>(st.st_size);
  status->modifiedTime = static_cast<int64_t>(st.st_mtime);
  status->isDirectory = S_ISDIR(st.st_mode);
  return true;
}

Status QueryFileIdentity(const std::wstring& path, FileIdentity* identity) {
  *identity = FileIdentity();
  if (const int injected = detail::InjectedErrno(FileOperation::kQuery, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  struct stat st {};
  if (::stat(WideToUtf8(path).c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status();
    return LastSystemError(StatusKind::kIoError, path);
  }
  const auto nanoseconds = [](const struct timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  identity->exists = true;
  identity->isDirectory = S_ISDIR(st.st_mode);
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->fileId = static_cast<uint64_t>(st.st_ino);
  identity->size = static_cast<uint64_t>(st.st_size);
  identity->modifiedNs = nanoseconds(st.st_mtim);
  identity->changedNs = nanoseconds(st.st_ctim);
  return Status();
}

bool PathExists(const std::wstring& path) {
  if (const int injected = detail::InjectedErrno(FileOperation::kQuery, path)) {
    errno = injected;
    return false;
  }
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

std::wstring ResolvedPath(const std::wstring& path) {
  const std::string native = WideToUtf8(path);
  if (char* real = ::realpath(native.c_str(), nullptr)) {
    std::wstring resolved = Utf8ToWideText(real);
    std::free(real);
    return resolved;
  }
  const size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    std::string resolved = real;
    std::free(real);
    if (!resolved.ends_with('/')) resolved += '/';
    return Utf8ToWideText(resolved + native.substr(slash + 1));
  }
  return path;
}

namespace detail {

Status ReplacementTarget(const std::wstring& path, std::wstring* target) {
  const std::string native = WideToUtf8(path);
  struct stat st {};
  if (const int injected = InjectedErrno(FileOperation::kQuery, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  if (::lstat(native.c_str(), &st) != 0) {
    if (errno != ENOENT) return LastSystemError(StatusKind::kIoError, path);
    *target = path;  // a new file
    return Status();
  }
  std::string file = native;
  if (S_ISLNK(st.st_mode)) {
    // The link stays; the file it points to is the one replaced.
    char* real = ::realpath(native.c_str(), nullptr);
    if (real == nullptr) return LastSystemError(StatusKind::kIoError, path);
    file = real;
    std::free(real);
    if (::stat(file.c_str(), &st) != 0) return LastSystemError(StatusKind::kIoError, path);
  }
  if (!S_ISREG(st.st_mode))
    return Status::Error(StatusKind::kIoError, path, 0, "not a regular file");
  // Renaming over a file needs only the folder's permission, so the file's own is asked
  // here: a file we may not write, or one nobody may write (which the superuser could),
  // is someone's wish to keep it as it is.
  if ((st.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0)
    return ErrnoStatus(StatusKind::kIoError, path, EACCES);
  *target = file == native ? path : Utf8ToWideText(file);
  return Status();
}

}  // namespace detail

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
