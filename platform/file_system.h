#pragma once
// File status, deletion, renaming and the current directory.

#include <cstdint>
#include <string>

namespace platform {

// The separator the file functions of this system accept between folders and names.
#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif

struct FileStatus {
  uint64_t size = 0;
  int64_t modifiedTime = 0;  // seconds since 1970-01-01 00:00 UTC
  bool isDirectory = false;
};

// False when the path does not exist or cannot be queried.
bool QueryFileStatus(const std::wstring& path, FileStatus* status);

// True for any existing path, folders included (PathFileExistsW).
bool PathExists(const std::wstring& path);

// Deletes a file (DeleteFileW); false when it could not be deleted.
bool RemoveFile(const std::wstring& path);

// Moves a finished file into place, replacing an existing file at the destination.
bool ReplaceFile(const std::wstring& from, const std::wstring& to);

// The process's current directory, without a trailing separator unless it is a root.
std::wstring CurrentDirectory();

// Makes path the current directory (_wchdir); false when that is refused.
bool ChangeDirectory(const std::wstring& path);

}  // namespace platform
