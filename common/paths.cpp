#include "common/paths.h"

#include <algorithm>

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

std::wstring_view PathFileName(std::wstring_view path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

std::wstring_view FileNameExtension(std::wstring_view path) {
  const std::wstring_view name = PathFileName(path);
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

std::wstring_view WithoutFileNameExtension(std::wstring_view path) {
  const std::wstring_view name = PathFileName(path);
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || dot == 0) return path;
  return path.substr(0, path.size() - name.size() + dot);
}

std::wstring WithExtension(std::wstring_view path, std::wstring_view extension) {
  const std::wstring_view name = PathFileName(path);
  if (name.empty()) return std::wstring(path);
  const std::wstring_view current = FileNameExtension(path);
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  const bool sameIgnoringCase =
      current.size() == extension.size() &&
      std::equal(current.begin(), current.end(), extension.begin(), [&](wchar_t a, wchar_t b) { return lower(a) == lower(b); });
  // A name that ends in "." has an empty extension: the new one follows that ".".
  const bool endsInDot = name.size() > 1 && name.back() == L'.';
  std::wstring result(sameIgnoringCase || endsInDot ? WithoutFileNameExtension(path) : path);
  return result + L"." + std::wstring(extension);
}
