#include "tests/support/host_fixtures.h"

#include <zlib.h>

#include "common/utf.h"
#include "platform/file_system.h"

namespace host_test {

namespace {

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

std::string DirPrefix(const lumo_test::TempDir& dir) {
  return WideToUtf8(dir.Path()) + static_cast<char>(platform::kPathSeparator);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

std::wstring ListedPath(const lumo_test::TempDir& dir, const std::wstring& name) {
  return platform::kPathSeparator == L'\\' ? dir.File(name) : dir.File(L"\\" + name);
}

std::wstring FixturePath(const std::wstring& name) {
  return Utf8ToWideText(LUMO_FIXTURE_DIR) + platform::kPathSeparator + name;
}

std::string MetaBytes(const std::vector<std::u16string>& items) {
  std::string bytes;
  for (size_t i = 0; i < items.size(); ++i) {
    std::u16string item = items[i];
    if (i + 1 < items.size()) item.push_back(u'\0');
    for (char16_t unit : item) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
  }
  return bytes;
}

std::string PackageBytes(uint32_t entryCount, uint32_t indexSize, const std::string& metaBytes) {
  const uint32_t indexOffset = 32 + static_cast<uint32_t>(metaBytes.size());
  std::string bytes(32, '\0');
  PutLe32(&bytes, 0, indexOffset);
  bytes[4] = 1;  // format version
  bytes[6] = 1;  // compressed
  PutLe32(&bytes, 8, indexOffset);
  PutLe32(&bytes, 12, indexSize);
  PutLe32(&bytes, 16, indexOffset + indexSize);
  PutLe32(&bytes, 24, entryCount);
  bytes += metaBytes;
  bytes += std::string(indexSize, 'i');
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(bytes.size()));
  PutLe32(&bytes, 28, static_cast<uint32_t>(crc));
  return bytes;
}

void WritePackage(const std::wstring& path, uint32_t seed, uint32_t entryCount,
                  uint32_t indexSize) {
  const std::u16string name = u"词典" + Utf8ToUtf16(std::to_string(seed));
  lumo_test::WriteBytes(path, PackageBytes(entryCount, indexSize,
                                           MetaBytes({u"N=" + name, u"DP=2024年1月1日"})));
}

void WriteStarDict(const std::wstring& ifoPath, const std::string& ifo, size_t idxBytes,
                   size_t dataBytes) {
  const std::wstring base = ifoPath.substr(0, ifoPath.size() - 3);
  lumo_test::WriteBytes(ifoPath, ifo);
  lumo_test::WriteBytes(base + L"idx", std::string(idxBytes, 'x'));
  if (dataBytes > 0) lumo_test::WriteBytes(base + L"dict", std::string(dataBytes, 'd'));
}

std::string WithDir(const lumo_test::TempDir& dir, const std::string& text) {
  return Replace(text, "<DIR>\\", DirPrefix(dir) + (platform::kPathSeparator == L'\\' ? "" : "\\"));
}

std::string WithoutDir(const lumo_test::TempDir& dir, const std::string& text) {
  return Replace(text, DirPrefix(dir) + (platform::kPathSeparator == L'\\' ? "" : "\\"), "<DIR>\\");
}

std::string Utf16File(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace host_test
