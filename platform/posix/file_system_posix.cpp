#include <dirent.h>
#include <fcntl.h>
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

FileKind QueryFileKind(const std::wstring& path, bool* isLink) {
  const std::string native = WideToUtf8(path);
  struct stat st {};
  if (isLink) *isLink = !path.empty() && ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  if (const int injected = detail::InjectedErrno(FileOperation::kQuery, path)) {
    errno = injected;
    return FileKind::kMissing;
  }
  if (path.empty() || ::stat(native.c_str(), &st) != 0) return FileKind::kMissing;
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(st.st_mode)) return FileKind::kFolder;
  return FileKind::kStream;
}

Status CreateFolder(const std::wstring& path) {
  if (const int injected = detail::InjectedErrno(FileOperation::kOpen, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  if (::mkdir(WideToUtf8(path).c_str(), 0777) == 0) return Status();
  const Status failed = LastSystemError(StatusKind::kIoError, path);
  return errno == EEXIST ? failed.WithKind(StatusKind::kAlreadyExists) : failed;
}

Status RemoveFolder(const std::wstring& path) {
  if (const int injected = detail::InjectedErrno(FileOperation::kDelete, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  if (::rmdir(WideToUtf8(path).c_str()) == 0) return Status();
  return LastSystemError(StatusKind::kIoError, path);
}

Status ListFolder(const std::wstring& path, std::vector<std::wstring>* names) {
  names->clear();
  if (const int injected = detail::InjectedErrno(FileOperation::kQuery, path))
    return ErrnoStatus(StatusKind::kIoError, path, injected);
  DIR* folder = ::opendir(WideToUtf8(path).c_str());
  if (folder == nullptr) return LastSystemError(StatusKind::kIoError, path);
  errno = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(Utf8ToWideText(name));
    errno = 0;
  }
  const Status listed = errno == 0 ? Status() : LastSystemError(StatusKind::kIoError, path);
  ::closedir(folder);
  return listed;
}

Status MoveToFreeName(const std::wstring& from, const std::wstring& to) {
  if (const int injected = detail::InjectedErrno(FileOperation::kRename, to))
    return ErrnoStatus(StatusKind::kIoError, to, injected);
  const std::string source = WideToUtf8(from), target = WideToUtf8(to);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return Status();
  if (errno == EEXIST) return LastSystemError(StatusKind::kAlreadyExists, to);
  if (errno != EINVAL && errno != ENOSYS) return LastSystemError(StatusKind::kIoError, to);
  // A file system that cannot refuse to replace: asked first, which leaves a moment in
  // which another program could take the name.
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) return ErrnoStatus(StatusKind::kAlreadyExists, to, EEXIST);
  if (std::rename(source.c_str(), target.c_str()) == 0) return Status();
  return LastSystemError(StatusKind::kIoError, to);
}

Status ExchangeFolders(const std::wstring& a, const std::wstring& b) {
  if (const int injected = detail::InjectedErrno(FileOperation::kRename, b))
    return ErrnoStatus(StatusKind::kIoError, b, injected);
  const std::string first = WideToUtf8(a), second = WideToUtf8(b);
  struct stat old {};
  if (::stat(second.c_str(), &old) == 0) {
    // Only the superuser may give a folder away; anyone's own folder takes the mode.
    [[maybe_unused]] const int given = ::chown(first.c_str(), old.st_uid, old.st_gid);
    [[maybe_unused]] const int modeSet = ::chmod(first.c_str(), old.st_mode & 07777);
  }
  if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0)
    return Status();
  const int error = errno;
  if (error == EINVAL || error == ENOSYS)
    return Status::Error(StatusKind::kInvalidArgument, b, error, "cannot exchange folders here");
  return ErrnoStatus(StatusKind::kIoError, b, error);
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
