#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/stdio_seam.h"
#include "platform/system_error.h"

namespace platform {

namespace {

FILE* AsFile(void* f) { return static_cast<FILE*>(f); }

}  // namespace

CBinaryFile::CBinaryFile(CBinaryFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)),
      m_path(std::move(other.m_path)),
      m_error(std::move(other.m_error)) {}

CBinaryFile& CBinaryFile::operator=(CBinaryFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_file = std::exchange(other.m_file, nullptr);
    m_path = std::move(other.m_path);
    m_error = std::move(other.m_error);
  }
  return *this;
}

void CBinaryFile::NoteFailure(int error) {
  if (m_error.ok()) m_error = ErrnoStatus(StatusKind::kIoError, m_path, error != 0 ? error : EIO);
}

Status CBinaryFile::Open(const std::wstring& path, Mode mode) {
  Close();
  m_path = path;
  m_error = Status();
  if (const int injected = detail::InjectedErrno(FileOperation::kOpen, path)) {
    NoteFailure(injected);
    return m_error;
  }
  errno = 0;
  m_file = mode == Mode::kCreateNew ? detail::CreateNewStdio(path)
                                    : detail::OpenStdio(path, mode == Mode::kRead ? "rb" : "wb");
  if (m_file == nullptr) {
    NoteFailure(errno);
    if (errno == EEXIST) m_error = m_error.WithKind(StatusKind::kAlreadyExists);
  }
  return m_error;
}

bool CBinaryFile::Write(const void* data, size_t count) {
  if (!m_file) return false;
  if (count == 0) return true;
  if (const int injected = detail::InjectedErrno(FileOperation::kWrite, m_path, count)) {
    NoteFailure(injected);
    return false;
  }
  errno = 0;
  if (std::fwrite(data, 1, count, AsFile(m_file)) == count) return true;
  NoteFailure(errno);
  return false;
}

std::ptrdiff_t CBinaryFile::Read(void* buffer, size_t count) {
  if (!m_file) return -1;
  if (const int injected = detail::InjectedErrno(FileOperation::kRead, m_path)) {
    NoteFailure(injected);
    return -1;
  }
  errno = 0;
  const size_t got = std::fread(buffer, 1, count, AsFile(m_file));
  if (got < count && std::ferror(AsFile(m_file))) {
    NoteFailure(errno);
    return -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool CBinaryFile::Seek(uint64_t position) {
  if (!m_file) return false;
  errno = 0;
  if (detail::SeekStdio(AsFile(m_file), static_cast<int64_t>(position), SEEK_SET)) return true;
  NoteFailure(errno);
  return false;
}

bool CBinaryFile::Sync() {
  if (!m_file || !m_error.ok()) return false;
  if (const int injected = detail::InjectedErrno(FileOperation::kFlush, m_path)) {
    NoteFailure(injected);
    return false;
  }
  errno = 0;
  if (detail::SyncStdio(AsFile(m_file))) return true;
  NoteFailure(errno);
  return false;
}

void CBinaryFile::CopyAccessFrom(const std::wstring& original) {
  if (m_file) detail::CopyAccessStdio(AsFile(m_file), original);
}

int64_t CBinaryFile::Size() {
  if (!m_file) return -1;
  FILE* f = AsFile(m_file);
  const int64_t here = detail::TellStdio(f);
  if (here < 0 || !detail::SeekStdio(f, 0, SEEK_END)) return -1;
  const int64_t end = detail::TellStdio(f);
  if (!detail::SeekStdio(f, here, SEEK_SET)) return -1;
  return end;
}

Status CBinaryFile::Close() {
  if (!m_file) return m_error;
  FILE* f = AsFile(std::exchange(m_file, nullptr));
  if (const int injected = detail::InjectedErrno(FileOperation::kFlush, m_path)) NoteFailure(injected);
  errno = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) NoteFailure(errno);
  errno = 0;
  if (std::fclose(f) != 0) NoteFailure(errno);
  return m_error;
}

}  // namespace platform
