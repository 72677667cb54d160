#include "stardict/stardict_info.h"

#include <climits>
#include <string_view>

#include "platform/file.h"
#include "platform/file_system.h"

namespace LumoDict {

namespace {

constexpr std::string_view kMagic = "StarDict's dict ifo file\nversion=";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(text[i]) != lower(prefix[i])) return false;
  }
  return true;
}

// The path with its last three characters ("ifo") replaced by tail.
std::wstring Companion(const std::wstring& path, const wchar_t* tail) {
  return path.substr(0, path.size() - 3) + tail;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  platform::CBinaryFile in;
  if (!in.Open(path, platform::CBinaryFile::Mode::kRead)) return false;
  char buffer[4096];
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

// The value of "\n<key>=" at its first occurrence from the scan position, up to the next
// line feed or the end of the text.
bool FindKey(std::string_view text, size_t from, std::string_view key, std::string* value) {
  std::string needle(1, '\n');
  needle.append(key).push_back('=');
  const size_t at = text.find(needle, from);
  if (at == std::string_view::npos) return false;
  const size_t begin = at + needle.size();
  const size_t end = text.find('\n', begin);
  *value = std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
  return true;
}

// Signed decimal with leading white space; out-of-range values give the nearest limit.
int32_t ParseDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

bool CStarDictInfoFile::Load(const std::wstring& path) {
  m_totalFileSize = 0;
  if (path.size() < 3) return false;

  platform::FileStatus status;
  if (!platform::QueryFileStatus(Companion(path, L"idx"), &status)) return false;
  m_totalFileSize += static_cast<uint32_t>(status.size);
  m_idxModifiedTime = status.modifiedTime;
  // When both data files exist, the uncompressed one counts.
  if (!platform::QueryFileStatus(Companion(path, L"dict"), &status) &&
      !platform::QueryFileStatus(Companion(path, L"dict.dz"), &status))
    return false;
  m_totalFileSize += static_cast<uint32_t>(status.size);

  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return false;
  // Everything stops at the first NUL byte, as a C string would.
  std::string_view text(bytes);
  text = text.substr(0, text.find('\0'));

  if (!StartsWithNoCase(text, kMagic)) return false;
  const std::string_view version = text.substr(kMagic.size());
  const bool version3 = StartsWithNoCase(version, "3.0.0\n");
  if (!version3 && !StartsWithNoCase(version, "2.4.2\n")) return false;
  // The scan starts at the version line's line feed, so that a key on the very next line
  // is found by its "\n<key>=".
  const size_t scan = kMagic.size() + 5;

  if (version3) {
    constexpr std::string_view kOffsetBits = "\nidxoffsetbits=";
    const size_t at = text.find(kOffsetBits, scan);
    if (at != std::string_view::npos && text.substr(at + kOffsetBits.size()).starts_with("64\n"))
      return false;  // 64-bit index offsets are not supported
  }

  std::string value;
  if (!FindKey(text, scan, "wordcount", &value)) return false;
  m_wordCount = ParseDecimal(value);
  m_synWordCount = FindKey(text, scan, "synwordcount", &value) ? ParseDecimal(value) : 0;
  if (!FindKey(text, scan, "idxfilesize", &value)) return false;
  m_idxFileSize = ParseDecimal(value);
  FindKey(text, scan, "dicttype", &m_dictType);
  if (!FindKey(text, scan, "bookname", &m_bookName)) return false;
  FindKey(text, scan, "author", &m_author);
  FindKey(text, scan, "email", &m_email);
  FindKey(text, scan, "website", &m_website);
  FindKey(text, scan, "date", &m_date);
  FindKey(text, scan, "description", &m_description);
  FindKey(text, scan, "sametypesequence", &m_sameTypeSequence);
  return true;
}

}  // namespace LumoDict
