#pragma once
// A lock between processes on one file, for an edit that reads the file, decides and
// writes it back: while one process holds it, every other process that asks for the lock
// of the same file waits. Any two spellings of the file's path share the lock (links and
// ".." resolved, and on Windows letter case aside). It is advisory: only programs that
// ask for it are held back.
//
// POSIX: flock on "<resolved path>.lock" beside the file, created when missing and never
// deleted (deleting it would let a waiting process lock a file that nobody else sees).
// Windows: a named mutex of the session, named after the resolved path.

#include <cstdint>
#include <string>

#include "common/status.h"

namespace platform {

// How long Lock waits for another process before it gives up.
constexpr int kFileLockWaitMilliseconds = 30000;

class CFileLock {
 public:
  CFileLock() = default;
  ~CFileLock() { Unlock(); }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

  // Waits until no other holder of the lock for the file at path is left, then holds it.
  // Fails when the lock cannot be made (a folder we may not write, on POSIX) or another
  // holder keeps it longer than kFileLockWaitMilliseconds. Two threads of one process
  // exclude each other as two processes do.
  Status Lock(const std::wstring& path);
  // Lets the next one in; also when the object goes.
  void Unlock();

 private:
#ifdef _WIN32
  void* m_mutex = nullptr;
#else
  int m_fd = -1;
#endif
};

// A claim on a folder that a run fills and empties again (a temporary folder of our own):
// while one process holds it, TryLock of the same folder fails in every other process;
// once the holder lets go or has ended, however it ended, TryLock succeeds. So a later
// run can tell a folder left by a run that was killed from one that is still in use.
//
// POSIX: flock on the folder itself. Windows: a named mutex of the session, named after
// the folder's resolved path (an abandoned one counts as free).
class CFolderLock {
 public:
  CFolderLock() = default;
  ~CFolderLock() { Unlock(); }
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;

  // Holds the claim, or fails at once (kAlreadyExists) when another process holds it, or
  // when the folder cannot be opened.
  Status TryLock(const std::wstring& folder);
  void Unlock();

 private:
#ifdef _WIN32
  void* m_mutex = nullptr;
#else
  int m_fd = -1;
#endif
};

}  // namespace platform
