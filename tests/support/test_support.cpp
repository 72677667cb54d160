#include "tests/support/test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/utf.h"

namespace fs = std::filesystem;

namespace lumo_test {

namespace {

fs::path ToFsPath(const std::wstring& path) { return FsPath(path); }

}  // namespace

// Through UTF-8, which std::filesystem takes as such on every platform: a wide string
// would be converted with the C locale on POSIX, which cannot hold non-ASCII names.
fs::path FsPath(const std::wstring& path) {
  const std::string utf8 = WideToUtf8(path);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::wstring WidePath(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return Utf8ToWideText(std::string(utf8.begin(), utf8.end()));
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const std::wstring name = L"lumo-test-" + std::to_wstring(rd()) + L"-" +
                              std::to_wstring(counter.fetch_add(1));
    std::error_code ec;
    if (fs::create_directory(base / name, ec)) {
      m_path = WidePath(base / ToFsPath(name));
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(ToFsPath(m_path), ec);
}

std::wstring TempDir::File(const std::wstring& name) const {
  return WidePath(ToFsPath(m_path) / ToFsPath(name));
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(ToFsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(ToFsPath(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(ToFsPath(path), ec);
}

uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b.at(at)) |
                               static_cast<unsigned char>(b.at(at + 1)) << 8);
}

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}

void RecordingObserver::OnConvertProgress(int percent) {
  std::lock_guard lock(m_mutex);
  m_progress.push_back(percent);
}

void RecordingObserver::OnConvertDone(bool success, CConvertJob*) {
  std::lock_guard lock(m_mutex);
  ++m_done;
  m_success = success;
}

void RecordingObserver::ShowWarning(UserMessage message, const Status& cause) {
  std::lock_guard lock(m_mutex);
  m_warnings.push_back(message);
  m_causes.push_back(cause);
}

std::vector<int> RecordingObserver::Progress() const {
  std::lock_guard lock(m_mutex);
  return m_progress;
}

std::vector<Status> RecordingObserver::Causes() const {
  std::lock_guard lock(m_mutex);
  return m_causes;
}

std::vector<UserMessage> RecordingObserver::Warnings() const {
  std::lock_guard lock(m_mutex);
  return m_warnings;
}

int RecordingObserver::DoneCount() const {
  std::lock_guard lock(m_mutex);
  return m_done;
}

bool RecordingObserver::DoneSuccess() const {
  std::lock_guard lock(m_mutex);
  return m_success;
}

bool RunJob(CConvertJob& job, const std::wstring& wordList, RecordingObserver* observer,
            const WordListOptions& options) {
  job.SetObserver(observer);
  job.SetSource(OpenWordListFile(wordList, options));
  job.Start();
  return job.Convert();
}

std::string FaultName(platform::Fault fault) {
  switch (fault) {
    case platform::Fault::kDiskFull: return "disk full";
    case platform::Fault::kAccessDenied: return "access denied";
    case platform::Fault::kIoError: return "I/O error";
    case platform::Fault::kSharingViolation: return "held open";
  }
  return "?";
}

}  // namespace lumo_test
