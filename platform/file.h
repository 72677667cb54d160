#pragma once
// Files as the core uses them. CFile is the word-list file: opened for reading only and
// without sharing, read in blocks. CBinaryFile is a checked binary stream for the data,
// compressed and package files: every operation reports whether it worked, so the
// pipeline never reports a failed write as success. Both keep the first failure as a
// Status naming the file and the system's reason.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/status.h"
#include "platform/stream_replay.h"

namespace platform {

class CFile {
 public:
  CFile() = default;
  ~CFile() { Close(); }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens for reading only, without sharing: on Windows the open fails while another
  // program holds the file open. Only a regular file or a pipe opens; a pipe is read as
  // standard input is (Seek goes back over what was read, until StopSeeking).
  Status Open(const std::wstring& path);
  // Opens the process's standard input in the file's place, so that a word list can come
  // from a pipe. Its size is unknown. It cannot seek, so what is read from it is kept and
  // Seek goes back over it, until StopSeeking.
  Status OpenStandardInput();
  bool IsOpen() const;

  // Reads up to count bytes; returns the number delivered (0 at end of file), or -1 when
  // the read failed.
  std::ptrdiff_t Read(void* buffer, size_t count) {
    if (m_position >= m_limit) return IsOpen() ? 0 : -1;
    const uint64_t left = m_limit - m_position;
    const std::ptrdiff_t got = ReadFromSystem(buffer, left < count ? static_cast<size_t>(left) : count);
    if (got > 0) m_position += static_cast<uint64_t>(got);
    return got;
  }

  // Moves to an absolute position; false on failure.
  bool Seek(uint64_t position) {
    if (!SeekInSystem(position)) return false;
    m_position = position;
    return true;
  }

  // The file seems to end after its first `bytes` bytes, for every read from here on (a
  // preview reads only the start of a large list).
  void LimitReads(uint64_t bytes) { m_limit = bytes; }

  // The caller will not seek again: standard input stops keeping what it reads. Nothing
  // changes for a file.
  void StopSeeking() { m_replay.StopKeeping(); }

  void Close();

  // Why the last Open, Read or Seek failed (kIoError or kNotFound); ok when none did.
  const Status& LastError() const { return m_error; }

 private:
  std::ptrdiff_t ReadFromSystem(void* buffer, size_t count);
  bool SeekInSystem(uint64_t position);

  std::wstring m_path;
  Status m_error;
  uint64_t m_position = 0;  // where the next read starts
  uint64_t m_limit = UINT64_MAX;
#ifdef _WIN32
  void* m_handle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
  int m_fd = -1;
#endif
  detail::CStreamReplay m_replay;
};

class CBinaryFile {
 public:
  enum class Mode {
    kRead,         // existing file, reading
    kCreateWrite,  // create or truncate, writing
    kCreateNew,    // create, writing; fails (kAlreadyExists) when the name is taken, even
                   // by a link, so the file is ours alone
  };

  CBinaryFile() = default;
  ~CBinaryFile() { Close(); }
  CBinaryFile(CBinaryFile&& other) noexcept;
  CBinaryFile& operator=(CBinaryFile&& other) noexcept;
  CBinaryFile(const CBinaryFile&) = delete;
  CBinaryFile& operator=(const CBinaryFile&) = delete;

  Status Open(const std::wstring& path, Mode mode);
  bool IsOpen() const { return m_file != nullptr; }

  // Writes all bytes or reports failure.
  bool Write(const void* data, size_t count);
  // Reads up to count bytes; returns the number read, or -1 on a read error. Fewer than
  // count bytes without an error means the end of the file was reached.
  std::ptrdiff_t Read(void* buffer, size_t count);
  bool Seek(uint64_t position);
  // Writes the buffered data through to the disk (fsync, FlushFileBuffers), so that a
  // file renamed into place afterwards is complete even after a power cut.
  bool Sync();
  // Gives a file just created the owner and permissions of original, as far as we may
  // (best effort; nothing to do where the new file inherits them from its folder).
  void CopyAccessFrom(const std::wstring& original);
  // Size of the file in bytes, or -1 when it cannot be determined.
  int64_t Size();
  // Flushes buffered data and closes; the first failure since Open when anything
  // failed, a buffered write included.
  Status Close();
  // The first failure since Open; ok when none.
  const Status& Error() const { return m_error; }

 private:
  // Keeps the first failure, from errno as the C runtime left it.
  void NoteFailure(int error);

  void* m_file = nullptr;  // FILE*
  std::wstring m_path;
  Status m_error;
};

}  // namespace platform
