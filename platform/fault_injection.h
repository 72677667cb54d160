#pragma once
// Failures on demand, for the tests. A fault plan names the file operations that are to
// fail, under one folder, and while it is installed the platform layer makes them fail as
// the system would: the call reports failure and the status carries the system's code for
// the chosen fault (a full disk, a refused access, an input/output error, a file another
// program holds open). Paths outside
// the plan's folder are never touched, so a plan affects only its own test's files.
//
// Every operation of the platform layer on a file under the folder is counted, so a test
// can first count the operations of a run and then fail each one in turn.

#include <cstdint>
#include <mutex>
#include <string>

namespace platform {

enum class FileOperation {
  kOpen,    // opening or creating a file
  kRead,
  kWrite,
  kFlush,   // the flush before a file is closed
  kRename,  // moving a finished file into place
  kDelete,
  kLock,    // taking a lock between processes
  kQuery,   // asking whether a file is there, and its size and kind
  kAny,     // in FailAt: an operation of any kind
};

enum class Fault {
  kDiskFull,      // ENOSPC, ERROR_DISK_FULL
  kAccessDenied,  // EACCES, ERROR_ACCESS_DENIED
  kIoError,       // EIO, ERROR_GEN_FAILURE
  // Another program holds the file open without sharing it: ERROR_SHARING_VIOLATION on
  // Windows, where its C runtime reports EACCES; EBUSY elsewhere.
  kSharingViolation,
};

class CFaultPlan {
 public:
  // Only paths that start with folder are affected and counted.
  explicit CFaultPlan(std::wstring folder);

  // The nth operation of that kind (counted from 1, from the plan's installation) fails;
  // with sticky, every later one of that kind fails as well.
  void FailAt(FileOperation operation, int64_t nth, Fault fault = Fault::kIoError,
              bool sticky = false);
  // Writes fail, as on a full disk, once this many more bytes have been written.
  void FailWritesAfter(int64_t bytes);

  // Operations of that kind counted so far; kAny counts all.
  int64_t Count(FileOperation operation) const;
  // How many operations the plan has made fail.
  int64_t Injected() const;

  // Called by the platform layer before it performs an operation on path (bytes: the
  // size of a write). The fault to report, or false to go ahead.
  bool Check(FileOperation operation, const std::wstring& path, uint64_t bytes, Fault* fault);

 private:
  static constexpr int kKinds = static_cast<int>(FileOperation::kAny) + 1;

  const std::wstring m_folder;
  mutable std::mutex m_mutex;
  int64_t m_counts[kKinds] = {};
  FileOperation m_failKind = FileOperation::kAny;
  int64_t m_failAt = 0;  // 0: none
  Fault m_fault = Fault::kIoError;
  bool m_sticky = false;
  int64_t m_writeBudget = -1;  // bytes; negative: unlimited
  int64_t m_injected = 0;
};

// Installs a plan for its lifetime; one at a time.
class CScopedFaultPlan {
 public:
  explicit CScopedFaultPlan(CFaultPlan* plan);
  ~CScopedFaultPlan();
  CScopedFaultPlan(const CScopedFaultPlan&) = delete;
  CScopedFaultPlan& operator=(const CScopedFaultPlan&) = delete;
};

namespace detail {

// For the implementations: when the installed plan fails this operation, the code the
// system would give for it (an errno value, or on Windows with systemCode a GetLastError
// value), else 0.
int InjectedErrno(FileOperation operation, const std::wstring& path, uint64_t bytes = 0);
int InjectedSystemCode(FileOperation operation, const std::wstring& path, uint64_t bytes = 0);

}  // namespace detail

}  // namespace platform
