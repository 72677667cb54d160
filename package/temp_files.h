#pragma once
// The two temporary data files of a conversion: LumoDictTemp.des (the explanations back to
// back) and LumoDictTemp.des.dz (their compressed form), directly in the package's folder.

#include <string>

struct ConvertResult;

inline constexpr wchar_t kTempBaseName[] = L"LumoDictTemp";
inline constexpr wchar_t kDataExtension[] = L".des";
inline constexpr wchar_t kCompressedExtension[] = L".des.dz";

struct TempFiles {
  std::wstring data;
  std::wstring compressed;
};

// The two paths in folder.
TempFiles TempFilesIn(const std::wstring& folder);

// Deletes the files of a conversion (the compressed one only when it compresses); true
// when every file that existed was deleted.
bool DeleteTempFiles(const ConvertResult& result);
