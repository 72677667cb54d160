#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "common/utf.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace fuzz {

namespace {

std::filesystem::path g_folder;

void RemoveFolder() {
  std::error_code ec;
  if (!g_folder.empty()) std::filesystem::remove_all(g_folder, ec);
}

}  // namespace

const std::wstring& ScratchFolder() {
  static const std::wstring folder = [] {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      g_folder = base / ("lumo-fuzz-" + std::to_string(random()));
      if (std::filesystem::create_directory(g_folder)) break;
    }
    std::atexit(&RemoveFolder);
    const std::u8string name = g_folder.u8string();
    return Utf8ToWideText(std::string(name.begin(), name.end()));
  }();
  return folder;
}

std::wstring ScratchFile(const std::wstring& name) {
  return ScratchFolder() + platform::kPathSeparator + name;
}

void WriteFile(const std::wstring& path, std::string_view bytes) {
  platform::CBinaryFile file;
  const bool ok = file.Open(path, platform::CBinaryFile::Mode::kCreateWrite).ok() &&
                  file.Write(bytes.data(), bytes.size()) && file.Close().ok();
  FUZZ_CHECK(ok, WideToUtf8(path));
}

std::string ReadFile(const std::wstring& path) {
  platform::CBinaryFile file;
  std::string bytes;
  if (!file.Open(path, platform::CBinaryFile::Mode::kRead)) return bytes;
  char buffer[1 << 14];
  for (std::ptrdiff_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, got);
  return bytes;
}

void Fail(const char* file, int line, const char* condition, const std::string& detail) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n  %s\n", file, line, condition, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
