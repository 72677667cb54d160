#pragma once
// Path helpers for Windows-style paths: only the backslash separates folders, on every
// platform, because these helpers read the paths typed into the dialog and the paths
// listed in LumoDict's settings, which are Windows paths wherever they are read.

#include <string>
#include <string_view>

// Text after the last "."; empty when there is none.
std::wstring PathExtension(std::wstring_view path);

// Text strictly between the last backslash and the last "."; empty when either is
// missing or the "." comes before the backslash.
std::wstring PathBaseName(std::wstring_view path);

// Text before the last backslash; empty when there is none.
std::wstring PathDirectory(std::wstring_view path);
