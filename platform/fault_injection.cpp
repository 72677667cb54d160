#include "platform/fault_injection.h"

#include <atomic>
#include <cerrno>
#include <utility>

namespace platform {

namespace {

std::atomic<CFaultPlan*> g_plan{nullptr};

int ErrnoFor(Fault fault) {
  switch (fault) {
    case Fault::kDiskFull: return ENOSPC;
    case Fault::kAccessDenied: return EACCES;
#ifdef _WIN32
    case Fault::kSharingViolation: return EACCES;
#else
    case Fault::kSharingViolation: return EBUSY;
#endif
    case Fault::kIoError: break;
  }
  return EIO;
}

#ifdef _WIN32
// The Windows codes, spelled as numbers so that this file stays free of <windows.h>.
int Win32CodeFor(Fault fault) {
  switch (fault) {
    case Fault::kDiskFull: return 112;     // ERROR_DISK_FULL
    case Fault::kAccessDenied: return 5;   // ERROR_ACCESS_DENIED
    case Fault::kSharingViolation: return 32;  // ERROR_SHARING_VIOLATION
    case Fault::kIoError: break;
  }
  return 31;  // ERROR_GEN_FAILURE
}
#endif

bool Injected(FileOperation operation, const std::wstring& path, uint64_t bytes, Fault* fault) {
  CFaultPlan* plan = g_plan.load(std::memory_order_acquire);
  return plan != nullptr && plan->Check(operation, path, bytes, fault);
}

}  // namespace

CFaultPlan::CFaultPlan(std::wstring folder) : m_folder(std::move(folder)) {}

void CFaultPlan::FailAt(FileOperation operation, int64_t nth, Fault fault, bool sticky) {
  std::lock_guard lock(m_mutex);
  m_failKind = operation;
  m_failAt = nth;
  m_fault = fault;
  m_sticky = sticky;
}

void CFaultPlan::FailWritesAfter(int64_t bytes) {
  std::lock_guard lock(m_mutex);
  m_writeBudget = bytes;
}

int64_t CFaultPlan::Count(FileOperation operation) const {
  std::lock_guard lock(m_mutex);
  return m_counts[static_cast<int>(operation)];
}

int64_t CFaultPlan::Injected() const {
  std::lock_guard lock(m_mutex);
  return m_injected;
}

bool CFaultPlan::Check(FileOperation operation, const std::wstring& path, uint64_t bytes,
                       Fault* fault) {
  if (path.compare(0, m_folder.size(), m_folder) != 0) return false;
  std::lock_guard lock(m_mutex);
  const int64_t ofKind = ++m_counts[static_cast<int>(operation)];
  const int64_t ofAny = ++m_counts[static_cast<int>(FileOperation::kAny)];
  bool fail = false;
  if (m_failAt > 0) {
    const int64_t n = m_failKind == FileOperation::kAny ? ofAny
                      : m_failKind == operation         ? ofKind
                                                        : 0;
    fail = n == m_failAt || (m_sticky && n > m_failAt);
    if (fail) *fault = m_fault;
  }
  if (!fail && operation == FileOperation::kWrite && m_writeBudget >= 0) {
    if (static_cast<uint64_t>(m_writeBudget) < bytes) {
      m_writeBudget = 0;
      *fault = Fault::kDiskFull;
      fail = true;
    } else {
      m_writeBudget -= static_cast<int64_t>(bytes);
    }
  }
  if (fail) ++m_injected;
  return fail;
}

CScopedFaultPlan::CScopedFaultPlan(CFaultPlan* plan) { g_plan.store(plan, std::memory_order_release); }

CScopedFaultPlan::~CScopedFaultPlan() { g_plan.store(nullptr, std::memory_order_release); }

namespace detail {

int InjectedErrno(FileOperation operation, const std::wstring& path, uint64_t bytes) {
  Fault fault;
  return Injected(operation, path, bytes, &fault) ? ErrnoFor(fault) : 0;
}

int InjectedSystemCode(FileOperation operation, const std::wstring& path, uint64_t bytes) {
  Fault fault;
  if (!Injected(operation, path, bytes, &fault)) return 0;
#ifdef _WIN32
  return Win32CodeFor(fault);
#else
  return ErrnoFor(fault);
#endif
}

}  // namespace detail

}  // namespace platform
