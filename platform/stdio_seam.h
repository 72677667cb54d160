#pragma once
// Internal to platform/: the C runtime calls whose names differ between the
// operating systems. CBinaryFile is written once over them.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform::detail {

FILE* OpenStdio(const std::wstring& path, const char* mode);
// Creates a new file for binary writing; fails (errno EEXIST) when anything, a link
// included, already has that name.
FILE* CreateNewStdio(const std::wstring& path);
bool SeekStdio(FILE* file, int64_t offset, int origin);
int64_t TellStdio(FILE* file);
// Flushes the file's buffer and the system's cache of it to the disk; errno on failure.
bool SyncStdio(FILE* file);
// Best effort: the owner and permissions of original for the open file.
void CopyAccessStdio(FILE* file, const std::wstring& original);

}  // namespace platform::detail
