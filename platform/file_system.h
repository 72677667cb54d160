#pragma once
// File status, deletion, renaming and the current directory.

#include <cstdint>
#include <string>
#include <vector>

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

// What tells one state of a file from another, so that a program that read a file can
// see, before it replaces it, whether anyone wrote it meanwhile: which file the path
// names (its volume and number; device and inode on POSIX), its size and when it was
// last written (and on POSIX when its status last changed), as finely as the system
// keeps these times. An edit in place changes the size or a time; a file renamed over
// the path is another file. Two writes within one tick of the file system's clock that
// leave the size as it was cannot be told apart.
struct FileIdentity {
  bool exists = false;
  bool isDirectory = false;
  uint64_t volume = 0;
  uint64_t fileId = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // last write, nanoseconds since 1970-01-01 00:00 UTC
  int64_t changedNs = 0;   // last change of data or status (POSIX); 0 on Windows

  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file path names, links followed. A path that is not there (nor
// its folder) gives an identity with exists false, and succeeds; any other failure is
// the system's reason.
Status QueryFileIdentity(const std::wstring& path, FileIdentity* identity);

// True for any existing path, folders included (PathFileExistsW).
bool PathExists(const std::wstring& path);

// What a path names, links followed: the kind decides whether an output may be replaced
// by a new file (only a regular file may) or is written as a stream.
enum class FileKind {
  kMissing,  // nothing there, a link to nothing, or nothing we may look at
  kRegular,
  kFolder,
  kStream,   // a pipe, a device or a socket (on Windows also \\.\ names and NUL, CON, ...)
};
// isLink, when given, tells whether path itself is a symbolic link (a reparse point on
// Windows), whatever it points to.
FileKind QueryFileKind(const std::wstring& path, bool* isLink = nullptr);

// Creates a new, empty folder; kAlreadyExists when the name is taken by anything. Its
// parent must exist.
Status CreateFolder(const std::wstring& path);
// Removes an empty folder.
Status RemoveFolder(const std::wstring& path);
// The names in a folder, without "." and "..", in no particular order.
Status ListFolder(const std::wstring& path, std::vector<std::wstring>* names);

// Renames a file or a folder to a name that must be free: kAlreadyExists, and nothing
// moved, when anything has that name. The status names the destination.
Status MoveToFreeName(const std::wstring& from, const std::wstring& to);
// Two folders trade their names in one step, so that whoever opens either name finds one
// of them whole, whenever the program is stopped; first the folder a takes b's owner and
// permissions, as far as we may. Where the system cannot do this (Windows, or a file
// system without the call), kInvalidArgument with nothing changed: the caller then does
// without it.
Status ExchangeFolders(const std::wstring& a, const std::wstring& b);

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
