#pragma once
// Command-line paths go through std::filesystem, so they follow the conventions of the
// system ldic runs on; the core takes them as wide text.

#include <filesystem>
#include <string>

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
