#pragma once
// Where a command writes what it makes (a word list, a report): standard output; a pipe
// or a device, written into as a stream; or a file, written beside it under a name of its
// own and renamed over it only once complete, so that an earlier file stays as it was
// whatever fails. A device, a pipe or a socket is never replaced by a file, and a link
// to a file stays a link: the file it points to is replaced.

#include <optional>
#include <string>

#include "common/status.h"
#include "platform/console.h"
#include "platform/file.h"

class COutputFile {
 public:
  COutputFile() = default;
  // Abandons an output that was not committed.
  ~COutputFile() { Abandon(); }
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // path "-" or empty: standard output. For a file, its partial file is created now, and
  // a request to stop the program waits until it is renamed or removed.
  Status Open(const std::wstring& path);
  bool Write(const void* data, size_t count);
  // Why the last Write failed, naming the path the user gave.
  Status Error() const;
  // Ends the output: flushed, and a file renamed into place.
  Status Commit();
  // Gives up: a file's partial file is removed; what went into a stream stays there.
  void Abandon();

 private:
  enum class Kind { kStandardOutput, kStream, kFile };
  Kind m_kind = Kind::kStandardOutput;
  std::wstring m_path;    // as the user gave it
  std::wstring m_target;  // the file replaced: m_path, or the file a link there points to
  std::wstring m_partial;
  platform::CBinaryFile m_file;
  bool m_stdoutFailed = false;
  std::optional<platform::CHoldInterrupts> m_hold;
};
