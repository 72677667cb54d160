#include "common/paths.h"

std::wstring PathExtension(std::wstring_view path) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring_view::npos) return {};
  return std::wstring(path.substr(dot + 1));
}

std::wstring PathBaseName(std::wstring_view path) {
  const size_t slash = path.rfind(L'\\');
  const size_t dot = path.rfind(L'.');
  if (slash == std::wstring_view::npos || dot == std::wstring_view::npos || dot < slash)
    return {};
  return std::wstring(path.substr(slash + 1, dot - slash - 1));
}

std::wstring PathDirectory(std::wstring_view path) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring_view::npos) return {};
  return std::wstring(path.substr(0, slash));
}
