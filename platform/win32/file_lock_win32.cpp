#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/fault_injection.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace platform {

namespace {

// The mutex's name: a fixed prefix and a hash of the resolved path in capitals. A mutex
// name must not hold a backslash and is limited to MAX_PATH characters, hence the hash;
// two files whose hashes met would only wait for each other.
std::wstring MutexName(const std::wstring& path, const wchar_t* kind = L"FileLock") {
  std::wstring key = ResolvedPath(path);
  if (!key.empty())
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.data(),
                    static_cast<int>(key.size()), key.data(), static_cast<int>(key.size()), nullptr,
                    nullptr, 0);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : key) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t hex[17];
  std::swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(hash));
  return std::wstring(L"Local\\LumoDictGen.") + kind + L"." + hex;
}

}  // namespace

Status CFileLock::Lock(const std::wstring& path) {
  Unlock();
  if (const int injected = detail::InjectedSystemCode(FileOperation::kLock, path)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, path);
  }
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(path).c_str());
  if (mutex == nullptr) return LastSystemError(StatusKind::kIoError, path);
  switch (::WaitForSingleObject(mutex, kFileLockWaitMilliseconds)) {
    case WAIT_OBJECT_0:
    // The last holder ended without letting go; what it wrote was replaced in one step,
    // so the file is whole and the lock is ours.
    case WAIT_ABANDONED:
      m_mutex = mutex;
      return Status();
    case WAIT_TIMEOUT:
      ::CloseHandle(mutex);
      return Status::Error(StatusKind::kIoError, path, 0, "held by another process");
    default: {
      const Status failed = LastSystemError(StatusKind::kIoError, path);
      ::CloseHandle(mutex);
      return failed;
    }
  }
}

void CFileLock::Unlock() {
  if (m_mutex == nullptr) return;
  ::ReleaseMutex(static_cast<HANDLE>(m_mutex));
  ::CloseHandle(static_cast<HANDLE>(m_mutex));
  m_mutex = nullptr;
}

Status CFolderLock::TryLock(const std::wstring& folder) {
  Unlock();
  if (const int injected = detail::InjectedSystemCode(FileOperation::kLock, folder)) {
    ::SetLastError(static_cast<DWORD>(injected));
    return LastSystemError(StatusKind::kIoError, folder);
  }
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(folder, L"FolderLock").c_str());
  if (mutex == nullptr) return LastSystemError(StatusKind::kIoError, folder);
  const DWORD waited = ::WaitForSingleObject(mutex, 0);
  // An abandoned mutex: its holder ended without letting go, and the folder is free.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    m_mutex = mutex;
    return Status();
  }
  ::CloseHandle(mutex);
  return Status::Error(StatusKind::kAlreadyExists, folder, 0, "in use by another process");
}

void CFolderLock::Unlock() {
  if (m_mutex == nullptr) return;
  ::ReleaseMutex(static_cast<HANDLE>(m_mutex));
  ::CloseHandle(static_cast<HANDLE>(m_mutex));
  m_mutex = nullptr;
}

}  // namespace platform
