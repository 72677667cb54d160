#pragma once
// The outcome of an operation that can fail for a reason the user should hear: what went
// wrong (the kind), on which file, and the operating system's own code and words for it.
// The platform layer makes these from errno or GetLastError; the layers above pass them
// up unchanged or re-kind them, and each front end turns the kind into its fixed message
// and adds the path and the reason where it can show them.
//
//   Status s = file.Open(path, ...);
//   if (!s.ok()) return s.WithKind(StatusKind::kPackageCreateFailed);

#include <string>
#include <utility>

#include "common/user_messages.h"

enum class StatusKind {
  kOk,
  // Generic kinds, as the platform layer reports them.
  kIoError,          // the system refused an open, read, write, rename or delete
  kNotFound,         // the file or folder is not there
  kAlreadyExists,    // a file that must be new has a name already taken
  kCorrupt,          // the bytes are not what the format says
  kInvalidArgument,  // a value the operation cannot take
  kChanged,          // another program changed the file while it was being edited
  // Kinds of a conversion, each shown with its own fixed message.
  kCancelled,           // the user stopped the run
  kInputUnreadable,     // "无法打开导入文件，..."
  kNotText,             // "导入文件不是文本文件，请选择词库文本文件。"
  kInputDamaged,        // a StarDict dictionary that is not one: "无法读取该StarDict词典，..."
  kMdictDamaged,        // an MDict dictionary that is not one: "无法读取该MDict词典，..."
  kMdictEncodingUnknown,  // an MDict dictionary in an encoding not read: "暂不支持该MDict词典的文字编码…"
  kTooBig,              // "词库过大，无法转换。"
  kWriteFailed,         // "转换失败，请您重新转换"
  kPackageCreateFailed, // "无法创建词库文件，请检查保存路径。"
  kTempFileMissing,     // "临时文件丢失，请重新转换"
  kNoEntries,           // "导入文件中没有可转换的词条，..."
  kInputChanged,        // "导入文件在转换过程中被修改，请重新转换。"
  kInputProtected,      // a dictionary locked to a registration key: "该MDict词典受注册码保护，..."
  kInputVersionTooNew,  // a dictionary of a format version not read: "暂不支持MDict 3.0..."
};

class Status {
 public:
  // Success.
  Status() = default;
  static Status Ok() { return Status(); }

  // A failure with the system's error code and its text (UTF-8; may be empty).
  static Status Error(StatusKind kind, std::wstring path = {}, int osError = 0,
                      std::string reason = {}) {
    Status s;
    s.m_kind = kind;
    s.m_path = std::move(path);
    s.m_osError = osError;
    s.m_reason = std::move(reason);
    return s;
  }
  // The same failure, known to be for lack of space on the disk (the platform layer
  // tells from the system's code); it stays so under another kind or path.
  Status AsDiskFull() const& {
    Status s = *this;
    if (!s.ok()) s.m_diskFull = true;
    return s;
  }

  bool ok() const { return m_kind == StatusKind::kOk; }
  // As ok(), so that `if (!file.Open(...))` reads as it always has.
  explicit operator bool() const { return ok(); }
  StatusKind Kind() const { return m_kind; }
  const std::wstring& Path() const { return m_path; }
  int OsError() const { return m_osError; }
  const std::string& Reason() const { return m_reason; }
  bool DiskFull() const { return m_diskFull; }

  // The same failure under another kind, keeping path and reason; success stays success.
  Status WithKind(StatusKind kind) const& {
    Status s = *this;
    if (!s.ok()) s.m_kind = kind;
    return s;
  }
  // The same failure told of path (the file the user knows, say, rather than a
  // temporary one beside it); success stays success.
  Status WithPath(std::wstring path) const& {
    Status s = *this;
    if (!s.ok()) s.m_path = std::move(path);
    return s;
  }

  // "path: reason", "path", "reason" or "" as far as they are known (UTF-8), for a line
  // after the fixed message.
  std::string Where() const;

 private:
  StatusKind m_kind = StatusKind::kOk;
  std::wstring m_path;
  int m_osError = 0;
  std::string m_reason;
  bool m_diskFull = false;
};

// The fixed message the user is shown for a failure of this kind (kConvertFailed for the
// generic kinds).
UserMessage MessageOfKind(StatusKind kind);
// The fixed message for this failure: a full disk says so, whatever the step that met
// it; otherwise the message of its kind.
UserMessage MessageFor(const Status& status);
