// The INI document: the file is kept as its raw lines, each parsed once, so that a value
// is looked up without re-reading anything and an edit replaces or inserts exactly one
// line.

#include "platform/ini_document.h"

#include <cstdint>
#include <cwctype>
#include <utility>

#include "common/utf.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "platform/text_convert.h"

namespace platform {

namespace {

enum class IniEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

enum class LineKind { kOther, kSection, kKey };

struct IniLine {
  std::string raw;  // the line's bytes, its line end included
  bool hasEnd = false;
  bool blank = true;  // nothing but blanks
  LineKind kind = LineKind::kOther;
  std::wstring name;   // of the section or key
  std::wstring value;  // of a key, trimmed
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

void Parse(std::wstring_view text, IniLine* line) {
  const std::wstring trimmed = Trim(text);
  line->blank = trimmed.empty();
  line->kind = LineKind::kOther;
  if (trimmed.empty() || trimmed[0] == L';') return;
  if (trimmed[0] == L'[') {
    const size_t close = trimmed.rfind(L']');
    if (close == std::wstring::npos || close == 0) return;
    line->kind = LineKind::kSection;
    line->name = Trim(std::wstring_view(trimmed).substr(1, close - 1));
    return;
  }
  const size_t equals = trimmed.find(L'=');
  if (equals == std::wstring::npos) return;  // a name without a value never matches
  line->kind = LineKind::kKey;
  line->name = Trim(std::wstring_view(trimmed).substr(0, equals));
  line->value = Trim(std::wstring_view(trimmed).substr(equals + 1));
}

size_t UnitSize(IniEncoding encoding) {
  return encoding == IniEncoding::kUtf16Le || encoding == IniEncoding::kUtf16Be ? 2 : 1;
}

std::wstring Decode(IniEncoding encoding, std::string_view bytes) {
  switch (encoding) {
    case IniEncoding::kUtf8:
      return Utf8ToWideText(bytes);
    case IniEncoding::kUtf16Le:
      return Utf16ToWide(DecodeUtf16Units(bytes, Utf16ByteOrder::kLittleEndian));
    case IniEncoding::kUtf16Be:
      return Utf16ToWide(DecodeUtf16Units(bytes, Utf16ByteOrder::kBigEndian));
    case IniEncoding::kAnsi:
      break;
  }
  return AnsiToWide(bytes);
}

std::string Encode(IniEncoding encoding, std::wstring_view text) {
  switch (encoding) {
    case IniEncoding::kUtf8:
      return WideToUtf8(text);
    case IniEncoding::kUtf16Le:
    case IniEncoding::kUtf16Be: {
      const bool little = encoding == IniEncoding::kUtf16Le;
      std::string bytes;
      for (char16_t unit : WideToUtf16(text)) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes.push_back(little ? low : high);
        bytes.push_back(little ? high : low);
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

struct CIniDocument::Content {
  IniEncoding encoding = IniEncoding::kAnsi;
  std::string bom;
  std::vector<IniLine> lines;

  std::string LineEnd() const { return Encode(encoding, L"\r\n"); }

  IniLine MakeLine(const std::wstring& text) const {
    IniLine line;
    line.raw = Encode(encoding, text) + LineEnd();
    line.hasEnd = true;
    Parse(text, &line);
    return line;
  }

  // Splits the bytes after the byte-order mark into lines at every line feed (a 16-bit
  // one in a UTF-16 file). The line feed byte cannot occur inside a character of an
  // ANSI code page, so splitting the raw bytes is safe there too.
  void Split(std::string_view body) {
    const size_t unit = UnitSize(encoding);
    body = body.substr(0, body.size() - body.size() % unit);
    const std::string lf = Encode(encoding, L"\n");
    size_t start = 0;
    while (start < body.size()) {
      size_t end = start;
      while (end < body.size() && body.compare(end, unit, lf) != 0) end += unit;
      IniLine line;
      line.hasEnd = end < body.size();
      const size_t stop = line.hasEnd ? end + unit : end;
      line.raw = std::string(body.substr(start, stop - start));
      Parse(Decode(encoding, body.substr(start, end - start)), &line);
      lines.push_back(std::move(line));
      start = stop;
    }
  }

  // The index of the first section header named section, or lines.size().
  size_t FindSection(std::wstring_view section) const {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].kind == LineKind::kSection && EqualNoCase(lines[i].name, section)) return i;
    return lines.size();
  }

  // The line after the last line of the section whose header is at header.
  size_t SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::kSection) ++i;
    return i;
  }

  // The first line of the key in the first section of that name, or nullptr.
  const IniLine* FindKey(std::wstring_view section, std::wstring_view key) const {
    const size_t header = FindSection(section);
    if (header == lines.size()) return nullptr;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
      if (lines[i].kind == LineKind::kKey && EqualNoCase(lines[i].name, key)) return &lines[i];
    return nullptr;
  }

  void EndLastLine(size_t at) {
    if (!lines[at].hasEnd) {
      lines[at].raw += LineEnd();
      lines[at].hasEnd = true;
    }
  }
};

CIniDocument::CIniDocument() : m_content(std::make_unique<Content>()) {}
CIniDocument::~CIniDocument() = default;
CIniDocument::CIniDocument(CIniDocument&&) noexcept = default;
CIniDocument& CIniDocument::operator=(CIniDocument&&) noexcept = default;

Status CIniDocument::Load(const std::wstring& path) {
  m_path = path;
  m_content = std::make_unique<Content>();
  m_changed = false;
  FileStatus status;
  if (!QueryFileStatus(path, &status)) {
    // Only a file that is not there makes an empty document: after any other failure a
    // save would replace the user's settings with what this program adds alone.
    Status failed = LastSystemError(StatusKind::kIoError, path);
    return failed.Kind() == StatusKind::kNotFound ? Status() : failed;
  }
  if (status.isDirectory)
    return Status::Error(StatusKind::kIoError, path, 0, "a folder, not a file");
  CBinaryFile in;
  if (Status opened = in.Open(path, CBinaryFile::Mode::kRead); !opened) return opened;
  std::string bytes;
  std::string buffer(1 << 16, '\0');
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer.data(), buffer.size());
    if (got < 0) return in.Error();
    if (got == 0) break;
    bytes.append(buffer.data(), static_cast<size_t>(got));
  }
  in.Close();  // read to the end: a failure to close changes nothing that was read

  std::string_view body(bytes);
  Content& content = *m_content;
  if (body.starts_with(kUtf16LeBom)) {
    content.encoding = IniEncoding::kUtf16Le;
    content.bom = kUtf16LeBom;
  } else if (body.starts_with(kUtf16BeBom)) {
    content.encoding = IniEncoding::kUtf16Be;
    content.bom = kUtf16BeBom;
  } else if (body.starts_with(kUtf8Bom)) {
    content.encoding = IniEncoding::kUtf8;
    content.bom = kUtf8Bom;
  }
  body.remove_prefix(content.bom.size());
  content.Split(body);
  return Status();
}

int CIniDocument::GetProfileInt(std::wstring_view section, std::wstring_view key,
                                int defaultValue) const {
  const IniLine* line = m_content->FindKey(section, key);
  if (line == nullptr) return defaultValue;
  const std::wstring value = Truncated(StripQuotes(line->value));
  return value.empty() ? defaultValue : ParseProfileInt(value);
}

std::wstring CIniDocument::GetProfileString(std::wstring_view section, std::wstring_view key,
                                            std::wstring_view defaultValue) const {
  const IniLine* line = m_content->FindKey(section, key);
  if (line != nullptr) return Truncated(StripQuotes(line->value));
  // The Windows function hands out the default without its trailing blanks.
  std::wstring fallback(defaultValue);
  while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
  return Truncated(std::move(fallback));
}

std::vector<std::wstring> CIniDocument::KeyNames(std::wstring_view section) const {
  std::vector<std::wstring> names;
  const size_t header = m_content->FindSection(section);
  if (header == m_content->lines.size()) return names;
  const size_t end = m_content->SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (m_content->lines[i].kind == LineKind::kKey) names.push_back(m_content->lines[i].name);
  return names;
}

bool CIniDocument::CanStoreString(std::wstring_view value) const {
  return CanEncode(m_content->encoding, Trim(value));
}

bool CIniDocument::SetProfileInt(std::wstring_view section, std::wstring_view key, int value) {
  return SetProfileString(section, key, std::to_wstring(value));
}

bool CIniDocument::SetProfileString(std::wstring_view section, std::wstring_view key,
                                    std::wstring_view value) {
  Content& content = *m_content;
  const std::wstring sectionName = Trim(section);
  const std::wstring keyName = Trim(key);
  const std::wstring newValue = Trim(value);
  if (sectionName.empty() || keyName.empty()) return false;
  if (!CanEncode(content.encoding, sectionName) || !CanEncode(content.encoding, keyName) ||
      !CanEncode(content.encoding, newValue))
    return false;

  std::vector<IniLine>& lines = content.lines;
  const size_t header = content.FindSection(sectionName);
  if (header == lines.size()) {
    if (!lines.empty()) content.EndLastLine(lines.size() - 1);
    lines.push_back(content.MakeLine(L"[" + sectionName + L"]"));
    lines.push_back(content.MakeLine(keyName + L"=" + newValue));
    m_changed = true;
    return true;
  }
  const size_t end = content.SectionEnd(header);
  size_t lastFilled = header;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines[i].kind == LineKind::kKey && EqualNoCase(lines[i].name, keyName)) {
      // Like Windows, an unchanged value leaves the file untouched.
      if (lines[i].value == newValue) return true;
      IniLine line = content.MakeLine(lines[i].name + L"=" + newValue);
      // The changed line keeps its own end when it has one (a file of LF lines stays so).
      if (lines[i].hasEnd && !lines[i].raw.ends_with(content.LineEnd()))
        line.raw = Encode(content.encoding, lines[i].name + L"=" + newValue) +
                   Encode(content.encoding, L"\n");
      lines[i] = std::move(line);
      m_changed = true;
      return true;
    }
    if (!lines[i].blank) lastFilled = i;
  }
  // A new key goes after the section's last line that is not blank, so the blank lines
  // that separate it from the next section stay where they are.
  content.EndLastLine(lastFilled);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled) + 1,
               content.MakeLine(keyName + L"=" + newValue));
  m_changed = true;
  return true;
}

std::string CIniDocument::Bytes() const {
  std::string bytes = m_content->bom;
  for (const IniLine& line : m_content->lines) bytes += line.raw;
  return bytes;
}

Status CIniDocument::Commit() {
  if (!m_changed) return Status();
  Status written = WriteFileAtomically(m_path, Bytes());
  if (written) m_changed = false;
  return written;
}

}  // namespace platform
