#include "platform/atomic_file.h"

#include "platform/console.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace platform {

namespace {

// Names beyond this many are not tried: so many leftovers mean something else is wrong.
constexpr int kTempNameAttempts = 100;

std::wstring TempName(const std::wstring& target, int attempt) {
  std::wstring name = target + L".lumo-new";
  if (attempt > 1) name += L"-" + std::to_wstring(attempt);
  return name;
}

Status WriteReplacement(const std::wstring& path, std::string_view bytes,
                        const std::function<Status()>* beforeReplace) {
  std::wstring target;
  if (Status s = detail::ReplacementTarget(path, &target); !s) return s.WithPath(path);

  // From the temporary file's creation to its rename or removal, a request to stop waits;
  // one that came meanwhile keeps the file as it was.
  CHoldInterrupts hold;
  CBinaryFile temp;
  std::wstring tempPath;
  Status s;
  for (int attempt = 1; attempt <= kTempNameAttempts; ++attempt) {
    tempPath = TempName(target, attempt);
    s = temp.Open(tempPath, CBinaryFile::Mode::kCreateNew);
    if (s.Kind() != StatusKind::kAlreadyExists) break;
  }
  if (!s) return s.WithPath(path);

  // The permissions come first, so that the contents are never readable by more people
  // than could read the old file.
  temp.CopyAccessFrom(target);
  if (temp.Write(bytes.data(), bytes.size())) temp.Sync();
  s = temp.Close();
  if (s && ReceivedInterrupt() != InterruptKind::kNone)
    s = Status::Error(StatusKind::kCancelled, path, 0, "interrupted");
  if (s && beforeReplace != nullptr) s = (*beforeReplace)();
  if (s) s = ReplaceFile(tempPath, target);
  if (!s) {
    RemoveFile(tempPath);
    return s.WithPath(path);
  }
  return Status();
}

}  // namespace

Status WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
  return WriteReplacement(path, bytes, nullptr);
}

Status WriteFileAtomically(const std::wstring& path, std::string_view bytes,
                           const std::function<Status()>& beforeReplace) {
  return WriteReplacement(path, bytes, &beforeReplace);
}

}  // namespace platform
