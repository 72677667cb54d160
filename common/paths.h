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

// The paths the dialog is given, where Windows takes "/" as well as "\" between folders:

// The file name: the text after the last "\" or "/" (all of path when there is neither).
std::wstring_view PathFileName(std::wstring_view path);

// The file name's own last extension, without its "."; empty when the name has no "."
// but perhaps a leading one (".hidden" has none, as std::filesystem sees it).
std::wstring_view FileNameExtension(std::wstring_view path);

// path without its file name's extension and the "." before it: "D:\a.b\c.txt" gives
// "D:\a.b\c", "D:\a.b\c" and "D:\.hidden" stay as they are.
std::wstring_view WithoutFileNameExtension(std::wstring_view path);

// path with extension (given in lower case, without its "."): an extension that differs only
// in ASCII letter case takes extension's letters, any other file name gets "." and extension
// appended ("a.txt" gives "a.txt.ldic"), after the "." that ends a name such as "a.". A path
// without a file name stays as it is.
std::wstring WithExtension(std::wstring_view path, std::wstring_view extension);
