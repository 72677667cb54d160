#include "package/temp_files.h"

#include "package/convert_result.h"
#include "platform/file_system.h"

TempFiles TempFilesIn(const std::wstring& folder) {
  // Plain concatenation: a root folder gives two separators in a row, which the file
  // functions accept.
  const std::wstring base = folder + platform::kPathSeparator + kTempBaseName;
  return {base + kDataExtension, base + kCompressedExtension};
}

bool DeleteTempFiles(const ConvertResult& result) {
  // A file that does not exist counts as deleted; the second file is tried even when
  // the first could not be deleted.
  bool deleted = true;
  if (platform::PathExists(result.temp.data)) deleted = platform::RemoveFile(result.temp.data).ok();
  if (result.compress && platform::PathExists(result.temp.compressed))
    deleted = platform::RemoveFile(result.temp.compressed).ok() && deleted;
  return deleted;
}
