#pragma once
// The two temporary data files of a job: LumoDictTemp.des (the explanations back to back)
// and LumoDictTemp.des.dz (their compressed form), directly in the job's folder.

#include <string>

class CConvertJob;

inline constexpr wchar_t kTempBaseName[] = L"LumoDictTemp";
inline constexpr wchar_t kDataExtension[] = L".des";
inline constexpr wchar_t kCompressedExtension[] = L".des.dz";

// Deletes both files; true when every file that existed was deleted.
bool DeleteTempFiles(const CConvertJob& job);
