#pragma once
// Replacing a file that other programs read, in one step: whoever opens it sees the old
// contents or the new ones, never a mixture, whenever the writer fails or is killed.

#include <functional>
#include <string>
#include <string_view>

#include "common/status.h"

namespace platform {

// Replaces the file at path with bytes: they go into a temporary file of our own beside
// it (created exclusively under the first free name "<name>.lumo-new", "<name>.lumo-new-2",
// ...), which takes the old file's owner and permissions, is flushed to the disk and is
// then renamed over the file. When path is a symbolic link, the file it points to is
// replaced and the link stays. A missing file is created (its folder is not).
//
// A file we may not write is refused (access denied) and left as it was: one without
// write permission for us, or marked read-only (no write permission for anyone on POSIX,
// the read-only attribute on Windows), which is refused even to the superuser.
//
// On failure the file is unchanged and the temporary file is removed; only a crash can
// leave a temporary file behind. A request to stop the program (platform/console.h) that
// arrives meanwhile leaves the file unchanged too (kCancelled). The status names path.
Status WriteFileAtomically(const std::wstring& path, std::string_view bytes);

// The same for an edit of what was read from the file: once the new bytes are on the
// disk, just before the rename, beforeReplace checks that the file is still what the edit
// was made of; when it fails, nothing is replaced and its status is returned.
Status WriteFileAtomically(const std::wstring& path, std::string_view bytes,
                           const std::function<Status()>& beforeReplace);

namespace detail {

// The OS's part of it: the file a replacement of path must write (the target of a link),
// or the reason it may not be replaced.
Status ReplacementTarget(const std::wstring& path, std::wstring* target);

}  // namespace detail

}  // namespace platform
