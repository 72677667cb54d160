#pragma once
// File status, deletion, renaming and the current directory.

#include <cstdint>
#include <string>

#include "common/status.h"

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

// Deletes a file (DeleteFileW).
Status RemoveFile(const std::wstring& path);

// Moves a finished file into place, replacing an existing file at the destination; the
// status names the destination.
Status ReplaceFile(const std::wstring& from, const std::wstring& to);

// True when the two paths name the same file, so that writing one would replace the
// other: the same existing file (relative parts and links aside), or on Windows two
// spellings of one path, letter case aside.
bool IsSameFile(const std::wstring& a, const std::wstring& b);

// The one spelling of an existing file's path: absolute, with links, "." and ".."
// resolved (and on Windows the file's own letter case), so that any two spellings of one
// file give the same text. For a missing file, its folder's resolved path and its name;
// path itself when even that cannot be found.
std::wstring ResolvedPath(const std::wstring& path);

// The process's current directory, without a trailing separator unless it is a root.
std::wstring CurrentDirectory();

// Makes path the current directory (_wchdir); false when that is refused.
bool ChangeDirectory(const std::wstring& path);

}  // namespace platform
