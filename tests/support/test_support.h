#pragma once
// Helpers shared by the test programs: a temporary folder per test, a full disk in it, file
// contents, and an observer that records what a conversion job reports.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/convert_job.h"
#include "platform/fault_injection.h"
#include "textio/word_list_source.h"

namespace lumo_test {

// A fresh folder under the system's temporary folder, removed with its contents when the
// object goes. Path() has no trailing separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& Path() const { return m_path; }
  // Path() + separator + name.
  std::wstring File(const std::wstring& name) const;

 private:
  std::wstring m_path;
};

// A full disk for the files under folder while the object lives: writes there fail once
// `bytes` more bytes have been written.
class DiskFullAfter {
 public:
  DiskFullAfter(const std::wstring& folder, int64_t bytes) : m_plan(folder), m_installed(&m_plan) {
    m_plan.FailWritesAfter(bytes);
  }

 private:
  platform::CFaultPlan m_plan;
  platform::CScopedFaultPlan m_installed;
};

// Wide paths to and from std::filesystem without loss on every platform.
std::filesystem::path FsPath(const std::wstring& path);
std::wstring WidePath(const std::filesystem::path& path);

void WriteBytes(const std::wstring& path, const std::string& bytes);
// The whole file; an empty string when it cannot be read.
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

uint16_t Le16(const std::string& bytes, size_t at);
uint32_t Le32(const std::string& bytes, size_t at);

// Records every observer call; thread-safe.
class RecordingObserver : public IConvertObserver {
 public:
  void OnConvertProgress(int percent) override;
  void OnConvertDone(bool success, CConvertJob* job) override;
  void ShowWarning(UserMessage message, const Status& cause) override;

  std::vector<int> Progress() const;
  std::vector<UserMessage> Warnings() const;
  // The cause that came with each warning.
  std::vector<Status> Causes() const;
  int DoneCount() const;
  bool DoneSuccess() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<int> m_progress;
  std::vector<UserMessage> m_warnings;
  std::vector<Status> m_causes;
  int m_done = 0;
  bool m_success = false;
};

// The faults a sweep makes each operation fail with, and their names for its messages.
inline constexpr platform::Fault kEveryFault[] = {
    platform::Fault::kDiskFull, platform::Fault::kAccessDenied, platform::Fault::kIoError,
    platform::Fault::kSharingViolation};
std::string FaultName(platform::Fault fault);

// Runs a whole conversion of wordList into a job whose temporary files go to folder, on
// the calling thread; returns Convert's result.
bool RunJob(CConvertJob& job, const std::wstring& wordList, RecordingObserver* observer,
            const WordListOptions& options = {});

}  // namespace lumo_test
