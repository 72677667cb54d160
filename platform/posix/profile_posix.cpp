// The profile store on POSIX: an INI reader and editor that reads as the Windows
// private-profile functions do and writes what they write, byte for byte, for the lines it
// changes or adds (CR LF ends, "key=value", a new section at the end of the file without a
// blank line before it).
//
// Here we deliberately deviate from Wine, which rewrites the whole file from its parsed
// form (dropping blank lines and the blanks around "="): the file is kept as raw lines and
// a write replaces or inserts exactly one line, so every other byte of a settings file the
// user may have edited by hand stays as it was. The new contents go to a temporary file
// beside the settings file that is then renamed over it, so a failed write never leaves
// half a settings file.

#include <sys/stat.h>

#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_convert.h"

namespace platform {

namespace {

enum class IniEncoding { kAnsi, kUtf8, kUtf16Le };

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";

struct IniLine {
  std::string raw;    // the line's bytes, its line end included
  std::wstring text;  // decoded, without the line end
  bool hasEnd = false;
};

struct IniFile {
  IniEncoding encoding = IniEncoding::kAnsi;
  std::string bom;
  std::vector<IniLine> lines;
};

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::wstring name;
  std::wstring value;
};

// The blanks the private-profile functions trim (Ctrl-Z included, an old end-of-file mark).
bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' ||
         c == 0x1A;
}

std::wstring Trim(std::wstring_view s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return std::wstring(s.substr(begin, end - begin));
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

ParsedLine ParseLine(std::wstring_view text) {
  ParsedLine parsed;
  const std::wstring line = Trim(text);
  if (line.empty() || line[0] == L';') return parsed;
  if (line[0] == L'[') {
    const size_t close = line.rfind(L']');
    if (close == std::wstring::npos || close == 0) return parsed;
    parsed.kind = LineKind::kSection;
    parsed.name = Trim(std::wstring_view(line).substr(1, close - 1));
    return parsed;
  }
  const size_t equals = line.find(L'=');
  if (equals == std::wstring::npos) return parsed;  // a name without a value never matches
  parsed.kind = LineKind::kKey;
  parsed.name = Trim(std::wstring_view(line).substr(0, equals));
  parsed.value = Trim(std::wstring_view(line).substr(equals + 1));
  return parsed;
}

std::wstring Decode(IniEncoding encoding, std::string_view bytes) {
  switch (encoding) {
    case IniEncoding::kUtf8:
      return Utf8ToWideText(bytes);
    case IniEncoding::kUtf16Le:
      return Utf16ToWide(DecodeUtf16Units(bytes, Utf16ByteOrder::kLittleEndian));
    case IniEncoding::kAnsi:
      break;
  }
  return AnsiToWide(bytes);
}

std::string Encode(IniEncoding encoding, std::wstring_view text) {
  switch (encoding) {
    case IniEncoding::kUtf8:
      return WideToUtf8(text);
    case IniEncoding::kUtf16Le: {
      std::string bytes;
      for (char16_t unit : WideToUtf16(text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
      }
      return bytes;
    }
    case IniEncoding::kAnsi:
      break;
  }
  return WideToAnsi(text);
}

bool CanEncode(IniEncoding encoding, std::wstring_view text) {
  if (encoding != IniEncoding::kAnsi) return true;
  return AnsiToWide(WideToAnsi(text)) == text;
}

// Splits the bytes after the byte-order mark into lines at every line feed (a 16-bit one
// in a UTF-16 file). The line feed byte cannot occur inside a character of an ANSI code
// page, so splitting the raw bytes is safe there too.
void SplitLines(std::string_view body, IniFile* file) {
  const size_t unit = file->encoding == IniEncoding::kUtf16Le ? 2 : 1;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = start;
    bool found = false;
    for (; end + unit <= body.size(); end += unit) {
      if (body[end] == '\n' && (unit == 1 || body[end + 1] == '\0')) {
        found = true;
        break;
      }
    }
    IniLine line;
    const size_t stop = found ? end + unit : body.size();
    line.raw = std::string(body.substr(start, stop - start));
    line.hasEnd = found;
    std::string_view content = body.substr(start, (found ? end : body.size()) - start);
    line.text = Decode(file->encoding, content);
    if (found && !line.text.empty() && line.text.back() == L'\r') line.text.pop_back();
    file->lines.push_back(std::move(line));
    start = stop;
  }
}

enum class LoadResult { kLoaded, kMissing, kUnreadable };

LoadResult LoadIniFile(const std::wstring& path, IniFile* file) {
  FileStatus status;
  if (!QueryFileStatus(path, &status)) return LoadResult::kMissing;
  CBinaryFile in;
  if (status.isDirectory || !in.Open(path, CBinaryFile::Mode::kRead))
    return LoadResult::kUnreadable;
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer, sizeof buffer);
    if (got < 0) return LoadResult::kUnreadable;
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  std::string_view body(bytes);
  if (body.starts_with(kUtf16LeBom)) {
    file->encoding = IniEncoding::kUtf16Le;
    file->bom = kUtf16LeBom;
  } else if (body.starts_with(kUtf8Bom)) {
    file->encoding = IniEncoding::kUtf8;
    file->bom = kUtf8Bom;
  }
  body.remove_prefix(file->bom.size());
  SplitLines(body, file);
  return LoadResult::kLoaded;
}

std::string LineEnd(IniEncoding encoding) { return Encode(encoding, L"\r\n"); }

IniLine MakeLine(IniEncoding encoding, const std::wstring& text) {
  IniLine line;
  line.text = text;
  line.raw = Encode(encoding, text) + LineEnd(encoding);
  line.hasEnd = true;
  return line;
}

// The index of the first section header named section, or -1.
ptrdiff_t FindSection(const IniFile& file, std::wstring_view section) {
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const ParsedLine parsed = ParseLine(file.lines[i].text);
    if (parsed.kind == LineKind::kSection && EqualNoCase(parsed.name, section))
      return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

// The line after the last line of the section whose header is at header.
size_t SectionEnd(const IniFile& file, size_t header) {
  size_t i = header + 1;
  while (i < file.lines.size() && ParseLine(file.lines[i].text).kind != LineKind::kSection) ++i;
  return i;
}

bool SaveIniFile(const std::wstring& path, const IniFile& file) {
  std::string bytes = file.bom;
  for (const IniLine& line : file.lines) bytes += line.raw;

  const std::wstring temp = path + L".lumo-new";
  CBinaryFile out;
  if (!out.Open(temp, CBinaryFile::Mode::kCreateWrite)) return false;
  const bool written = out.Write(bytes.data(), bytes.size());
  if (!out.Close() || !written) {
    RemoveFile(temp);
    return false;
  }
  // The renamed file takes the place of the old one; give it the old one's permissions.
  struct stat old {};
  const std::string nativePath = WideToUtf8(path);
  if (::stat(nativePath.c_str(), &old) == 0)
    ::chmod(WideToUtf8(temp).c_str(), old.st_mode & 07777);
  if (!ReplaceFile(temp, path)) {
    RemoveFile(temp);
    return false;
  }
  return true;
}

std::wstring Truncated(std::wstring text) {
  if (text.size() > kProfileStringBufferLength - 1) text.resize(kProfileStringBufferLength - 1);
  return text;
}

// A value in a matching pair of quotes is handed out without them.
std::wstring StripQuotes(std::wstring value) {
  if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

// The trimmed value of the key as it stands in the file, or false when it is missing.
bool FindValue(const std::wstring& path, std::wstring_view section, std::wstring_view key,
               std::wstring* value) {
  IniFile file;
  if (LoadIniFile(path, &file) != LoadResult::kLoaded) return false;
  const ptrdiff_t header = FindSection(file, section);
  if (header < 0) return false;
  const size_t end = SectionEnd(file, static_cast<size_t>(header));
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
    ParsedLine parsed = ParseLine(file.lines[i].text);
    if (parsed.kind == LineKind::kKey && EqualNoCase(parsed.name, key)) {
      *value = std::move(parsed.value);
      return true;
    }
  }
  return false;
}

// Leading decimal digits with an optional sign; 32-bit arithmetic that wraps as the
// Windows functions' does.
int ParseProfileInt(std::wstring_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10 + static_cast<uint32_t>(text[i] - L'0');
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

}  // namespace

int CProfileStore::GetProfileInt(std::wstring_view section, std::wstring_view key,
                                 int defaultValue) const {
  std::wstring value;
  if (!FindValue(m_path, section, key, &value)) return defaultValue;
  value = Truncated(StripQuotes(std::move(value)));
  if (value.empty()) return defaultValue;
  return ParseProfileInt(value);
}

std::wstring CProfileStore::GetProfileString(std::wstring_view section, std::wstring_view key,
                                             std::wstring_view defaultValue) const {
  std::wstring value;
  if (!FindValue(m_path, section, key, &value)) {
    // The Windows function hands out the default without its trailing blanks.
    std::wstring fallback(defaultValue);
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
    return Truncated(std::move(fallback));
  }
  return Truncated(StripQuotes(std::move(value)));
}

bool CProfileStore::WriteProfileInt(std::wstring_view section, std::wstring_view key,
                                    int value) {
  return WriteProfileString(section, key, std::to_wstring(value));
}

bool CProfileStore::WriteProfileString(std::wstring_view section, std::wstring_view key,
                                       std::wstring_view value) {
  IniFile file;
  if (LoadIniFile(m_path, &file) == LoadResult::kUnreadable) return false;
  const std::wstring sectionName = Trim(section);
  const std::wstring keyName = Trim(key);
  const std::wstring newValue = Trim(value);
  if (sectionName.empty() || keyName.empty()) return false;
  if (!CanEncode(file.encoding, sectionName) || !CanEncode(file.encoding, keyName) ||
      !CanEncode(file.encoding, newValue))
    return false;

  const ptrdiff_t header = FindSection(file, sectionName);
  if (header >= 0) {
    const size_t end = SectionEnd(file, static_cast<size_t>(header));
    size_t lastFilled = static_cast<size_t>(header);
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
      const ParsedLine parsed = ParseLine(file.lines[i].text);
      if (parsed.kind == LineKind::kKey && EqualNoCase(parsed.name, keyName)) {
        // Like Windows, an unchanged value leaves the file untouched.
        if (parsed.value == newValue) return true;
        IniLine line = MakeLine(file.encoding, parsed.name + L"=" + newValue);
        // The changed line keeps its own end when it has one (a file of LF lines stays so).
        const std::string lf = Encode(file.encoding, L"\n");
        if (file.lines[i].hasEnd && !file.lines[i].raw.ends_with(LineEnd(file.encoding)))
          line.raw = Encode(file.encoding, line.text) + lf;
        file.lines[i] = std::move(line);
        return SaveIniFile(m_path, file);
      }
      if (!Trim(file.lines[i].text).empty()) lastFilled = i;
    }
    // A new key goes after the section's last line that is not blank, so the blank lines
    // that separate it from the next section stay where they are.
    IniLine& before = file.lines[lastFilled];
    if (!before.hasEnd) {
      before.raw += LineEnd(file.encoding);
      before.hasEnd = true;
    }
    file.lines.insert(file.lines.begin() + static_cast<ptrdiff_t>(lastFilled) + 1,
                      MakeLine(file.encoding, keyName + L"=" + newValue));
    return SaveIniFile(m_path, file);
  }

  if (!file.lines.empty() && !file.lines.back().hasEnd) {
    file.lines.back().raw += LineEnd(file.encoding);
    file.lines.back().hasEnd = true;
  }
  file.lines.push_back(MakeLine(file.encoding, L"[" + sectionName + L"]"));
  file.lines.push_back(MakeLine(file.encoding, keyName + L"=" + newValue));
  return SaveIniFile(m_path, file);
}

bool CProfileStore::CanStoreString(std::wstring_view value) const {
  IniFile file;
  if (LoadIniFile(m_path, &file) == LoadResult::kUnreadable) return false;
  return CanEncode(file.encoding, Trim(value));
}

}  // namespace platform
