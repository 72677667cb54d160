#include "package/temp_files.h"

#include "package/convert_result.h"
#include "platform/file_system.h"

namespace {

// Enough for any folder a person keeps, and a bound for a folder that is not writable.
constexpr int kMaxVariants = 10000;

std::wstring Variant(const std::wstring& stem, int number) {
  return number == 1 ? stem : stem + L"-" + std::to_wstring(number);
}

// Deletes a file the caller created itself; false when it is still there.
bool DeleteOwnFile(std::wstring* path) {
  if (path->empty()) return true;
  // Asked straight away rather than after a look: a look that failed would leave the
  // file behind unnoticed.
  const Status removed = platform::RemoveFile(*path);
  if (!removed.ok() && removed.Kind() != StatusKind::kNotFound) return false;
  path->clear();
  return true;
}

}  // namespace

Status CreateExclusiveFiles(const std::wstring& stem, std::span<const std::wstring_view> extensions,
                            std::span<platform::CBinaryFile> files, std::vector<std::wstring>* paths) {
  Status failure;
  for (int number = 1; number <= kMaxVariants; ++number) {
    const std::wstring base = Variant(stem, number);
    paths->clear();
    bool taken = false;
    for (size_t i = 0; i < files.size() && !taken; ++i) {
      paths->push_back(base + std::wstring(extensions[i]));
      failure = files[i].Open(paths->back(), platform::CBinaryFile::Mode::kCreateNew);
      if (failure.ok()) continue;
      paths->pop_back();
      // Windows refuses some taken names (a folder, a file being deleted) as access
      // denied rather than as existing.
      taken = failure.Kind() == StatusKind::kAlreadyExists ||
              platform::PathExists(base + std::wstring(extensions[i]));
      if (!taken) break;
    }
    if (failure.ok()) return Status();
    for (size_t i = 0; i < paths->size(); ++i) {
      files[i].Close();
      DeleteOwnFile(&(*paths)[i]);
    }
    paths->clear();
    if (!taken) return failure;
  }
  return failure;
}

Status CreatePartialFile(const std::wstring& path, platform::CBinaryFile* file,
                         std::wstring* partialPath) {
  const std::wstring_view extension[] = {kPartialExtension};
  std::vector<std::wstring> paths;
  const Status created = CreateExclusiveFiles(path, extension, {file, 1}, &paths);
  if (created.ok()) *partialPath = paths.front();
  return created;
}

Status ClaimTempFiles(TempFiles* files, bool compress, platform::CBinaryFile* data,
                      platform::CBinaryFile* compressed) {
  // Plain concatenation: a root folder gives two separators in a row, which the file
  // functions accept.
  const std::wstring stem = files->folder + platform::kPathSeparator + kTempBaseName;
  const std::wstring_view extensions[] = {kDataExtension, kCompressedExtension};
  platform::CBinaryFile opened[2];
  std::vector<std::wstring> paths;
  const Status created = CreateExclusiveFiles(stem, std::span(extensions).first(compress ? 2 : 1),
                                              std::span(opened).first(compress ? 2 : 1), &paths);
  if (!created.ok()) return created;
  files->data = paths[0];
  *data = std::move(opened[0]);
  if (compress) {
    files->compressed = paths[1];
    *compressed = std::move(opened[1]);
  }
  return Status();
}

bool DeleteTempFiles(ConvertResult& result) {
  // The second file is tried even when the first could not be deleted.
  const bool data = DeleteOwnFile(&result.temp.data);
  return DeleteOwnFile(&result.temp.compressed) && data;
}

void ReleaseTempFileReplacedBy(ConvertResult& result, const std::wstring& package) {
  // After the package was moved into place, a temporary name that is the package's names
  // the very same file; any other temporary file is still a file of its own.
  for (std::wstring* path : {&result.temp.data, &result.temp.compressed}) {
    if (!path->empty() && platform::IsSameFile(*path, package)) path->clear();
  }
}
