#pragma once
// Files that are ours alone. Everything this system writes before it is complete (the two
// data files of a conversion, a package, a dump, an export) first goes to a file created
// exclusively under a name nobody holds, so that a file or link already there is neither
// written through nor, later, deleted. When a name is taken the first free numbered
// variant is used: LumoDictTemp.des, LumoDictTemp-2.des, LumoDictTemp-3.des, ...
//
// The two temporary data files of a conversion are LumoDictTemp.des (the explanations
// back to back) and LumoDictTemp.des.dz (their compressed form), directly in the
// package's folder; a pair always shares its number.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "platform/file.h"

struct ConvertResult;

inline constexpr wchar_t kTempBaseName[] = L"LumoDictTemp";
inline constexpr wchar_t kDataExtension[] = L".des";
inline constexpr wchar_t kCompressedExtension[] = L".des.dz";
// What a file written beside its final name carries until it is renamed into place.
inline constexpr wchar_t kPartialExtension[] = L".part";

// Creates files.size() new files named stem + extensions[i], for the first variant of stem
// (stem, stem-2, stem-3, ...) under which every one of the names is free; all share that
// variant, and each is left open for writing. paths receives the names. A name taken by
// anything (a file, a link, a folder) moves on to the next variant, deleting again the
// files just made for this one; any other failure is returned at once.
Status CreateExclusiveFiles(const std::wstring& stem, std::span<const std::wstring_view> extensions,
                            std::span<platform::CBinaryFile> files, std::vector<std::wstring>* paths);

// One new file beside path, to be renamed over it once complete: path.part, else
// path-2.part, ...; partialPath receives its name.
Status CreatePartialFile(const std::wstring& path, platform::CBinaryFile* file,
                         std::wstring* partialPath);

// The temporary data files of one conversion. A path is set only once the run has created
// that file itself, so that clean-up deletes the run's own files and nothing it found.
struct TempFiles {
  std::wstring folder;
  std::wstring data;        // empty until created
  std::wstring compressed;  // empty until created
};

// Creates the data file and, with compress, the compressed one, new and under one number,
// in files->folder; both are left open for writing and noted in files.
Status ClaimTempFiles(TempFiles* files, bool compress, platform::CBinaryFile* data,
                      platform::CBinaryFile* compressed);

// Deletes the temporary files the run created; true when every one of them that still
// existed was deleted. Each one gone is forgotten, so that a later call cannot delete a
// file that another run has since created under the freed name.
bool DeleteTempFiles(ConvertResult& result);

// A package saved under the name of one of the run's temporary files has replaced that
// file: the name holds the package now and is no longer the run's to delete.
void ReleaseTempFileReplacedBy(ConvertResult& result, const std::wstring& package);
