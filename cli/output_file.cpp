#include "cli/output_file.h"

#include <cstdio>

#include "package/temp_files.h"
#include "platform/file_system.h"

Status COutputFile::Open(const std::wstring& path) {
  m_path = path;
  if (path.empty() || path == L"-") {
    m_kind = Kind::kStandardOutput;
    return Status();
  }
  bool isLink = false;
  const platform::FileKind kind = platform::QueryFileKind(path, &isLink);
  if (kind == platform::FileKind::kStream) {
    // Opening a pipe waits for its reader, as a shell's redirection does.
    m_kind = Kind::kStream;
    return m_file.Open(path, platform::CBinaryFile::Mode::kCreateWrite);
  }
  m_kind = Kind::kFile;
  // A link to a file stays a link: the file it points to is the one replaced.
  m_target = isLink && kind == platform::FileKind::kRegular ? platform::ResolvedPath(path) : path;
  m_hold.emplace();
  const Status created = CreatePartialFile(m_target, &m_file, &m_partial);
  if (!created) m_hold.reset();
  return created.WithPath(path);
}

bool COutputFile::Write(const void* data, size_t count) {
  if (m_kind != Kind::kStandardOutput) return m_file.Write(data, count);
  m_stdoutFailed = m_stdoutFailed || std::fwrite(data, 1, count, stdout) != count;
  return !m_stdoutFailed;
}

Status COutputFile::Error() const {
  if (m_kind != Kind::kStandardOutput) return m_file.Error().WithPath(m_path);
  return m_stdoutFailed ? Status::Error(StatusKind::kIoError, L"-", 0, "standard output") : Status();
}

Status COutputFile::Commit() {
  if (m_kind == Kind::kStandardOutput) {
    if (std::fflush(stdout) != 0) m_stdoutFailed = true;
    return Error();
  }
  Status done = m_file.Close().WithPath(m_path);
  // A request to stop that came while the file was written: the earlier file stays.
  if (done && m_kind == Kind::kFile && platform::ReceivedInterrupt() != platform::InterruptKind::kNone)
    done = Status::Error(StatusKind::kCancelled, m_path, 0, "interrupted");
  if (done && m_kind == Kind::kFile) done = platform::ReplaceFile(m_partial, m_target).WithPath(m_path);
  if (!done) {
    Abandon();
    return done;
  }
  // The name is the finished file's now, never to be removed as ours.
  m_partial.clear();
  m_hold.reset();
  return done;
}

void COutputFile::Abandon() {
  m_file.Close();
  if (m_kind == Kind::kFile && !m_partial.empty()) platform::RemoveFile(m_partial);
  m_partial.clear();
  m_hold.reset();
}
