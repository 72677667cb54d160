#pragma once
// Command-line paths go through std::filesystem, so they follow the conventions of the
// system ldic runs on; the core takes them as wide text.

#include <filesystem>
#include <string>

#include "common/status.h"
#include "common/utf.h"

inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

inline std::wstring PathToWide(const std::filesystem::path& path) {
  return Utf8ToWideText(PathToUtf8(path));
}

inline std::filesystem::path PathFromWide(const std::wstring& wide) {
  return PathFromUtf8(WideToUtf8(wide));
}

// Why path is of no use as a file to read (wantFolder false) or a folder to write into
// (true): a failure of kind naming path, with the system's reason when it gives one.
Status WhyUnusable(const std::filesystem::path& path, StatusKind kind, bool wantFolder);
