// The INI document: the file is kept as its raw lines, each parsed once, so that a value
// is looked up without re-reading anything and an edit replaces or inserts exactly one
// line.

#include "platform/ini_document.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <thread>
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

// The text of a key's line.
std::wstring KeyLine(std::wstring_view name, std::wstring_view value) {
  std::wstring text;
  text.reserve(name.size() + 1 + value.size());
  return text.append(name).append(1, L'=').append(value);
}

std::wstring_view Trim(std::wstring_view s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

// Names are compared without regard to letter case, one character at a time.
wchar_t Folded(wchar_t c) {
  if (static_cast<uint32_t>(c) < 0x80)
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && Folded(a[i]) != Folded(b[i])) return false;
  return true;
}

// The names of a file's sections, or of one section's keys, for lookups that cost the
// same however many there are: open addressing over a hash of the name without regard to
// letter case, each slot holding the number of the first line (or section) of that name;
// a hash that matches is confirmed by comparing the names themselves.
class CNameIndex {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // The number given for name, or kNone. nameOf(number) is the name that number has.
  template <class NameOf>
  size_t Find(std::wstring_view name, const NameOf& nameOf) const {
    if (m_slots.empty()) return kNone;
    const uint64_t hash = Hash(name);
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = m_slots[i];
      if (slot.number == kNone) return kNone;
      if (slot.hash == hash && EqualNoCase(nameOf(slot.number), name)) return slot.number;
    }
  }

  // Gives name the number, unless it has one already (the first line of a name counts).
  template <class NameOf>
  void Add(std::wstring_view name, size_t number, const NameOf& nameOf) {
    if ((m_used + 1) * 2 > m_slots.size()) Grow();
    const uint64_t hash = Hash(name);
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = m_slots[i];
      if (slot.number == kNone) {
        slot = {hash, number};
        ++m_used;
        return;
      }
      if (slot.hash == hash && EqualNoCase(nameOf(slot.number), name)) return;
    }
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    size_t number = kNone;
  };

  static uint64_t Hash(std::wstring_view name) {
    uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a, then mixed so the low bits spread
    for (const wchar_t c : name) hash = (hash ^ static_cast<uint32_t>(Folded(c))) * 0x100000001b3u;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdu;
    return hash ^ (hash >> 33);
  }
  size_t Mask() const { return m_slots.size() - 1; }

  void Grow() {
    std::vector<Slot> old(m_slots.empty() ? 8 : m_slots.size() * 2);
    old.swap(m_slots);
    for (const Slot& slot : old) {
      if (slot.number == kNone) continue;
      size_t i = slot.hash & Mask();
      while (m_slots[i].number != kNone) i = (i + 1) & Mask();
      m_slots[i] = slot;
    }
  }

  std::vector<Slot> m_slots;
  size_t m_used = 0;
};

void Parse(std::wstring_view text, IniLine* line) {
  const std::wstring_view trimmed = Trim(text);
  line->blank = trimmed.empty();
  line->kind = LineKind::kOther;
  if (trimmed.empty() || trimmed[0] == L';') return;
  if (trimmed[0] == L'[') {
    const size_t close = trimmed.rfind(L']');
    if (close == std::wstring_view::npos || close == 0) return;
    line->kind = LineKind::kSection;
    line->name = Trim(trimmed.substr(1, close - 1));
    return;
  }
  const size_t equals = trimmed.find(L'=');
  if (equals == std::wstring_view::npos) return;  // a name without a value never matches
  line->kind = LineKind::kKey;
  line->name = Trim(trimmed.substr(0, equals));
  line->value = Trim(trimmed.substr(equals + 1));
}

size_t UnitSize(IniEncoding encoding) {
  return encoding == IniEncoding::kUtf16Le || encoding == IniEncoding::kUtf16Be ? 2 : 1;
}

// Every ANSI code page holds ASCII as ASCII: most of a settings file (names, numbers,
// paths) needs no conversion at all, which is far cheaper than a pass through the
// system's converter for each line.
bool IsAscii(std::string_view bytes) {
  for (const char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}
bool IsAscii(std::wstring_view text) {
  for (const wchar_t c : text)
    if (static_cast<uint32_t>(c) >= 0x80) return false;
  return true;
}

std::wstring Decode(IniEncoding encoding, std::string_view bytes) {
  if (encoding == IniEncoding::kAnsi && IsAscii(bytes))
    return std::wstring(bytes.begin(), bytes.end());
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
  if ((encoding == IniEncoding::kAnsi || encoding == IniEncoding::kUtf8) && IsAscii(text)) {
    std::string bytes(text.size(), '\0');
    std::transform(text.begin(), text.end(), bytes.begin(),
                   [](wchar_t c) { return static_cast<char>(c); });
    return bytes;
  }
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
  if (encoding != IniEncoding::kAnsi || IsAscii(text)) return true;
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

// The file as sections, each its header line and the lines up to the next header (the
// first one, without a header, the lines before any), with an index of the first section
// of each name and, in each section, of the first line of each key: a lookup or an edit
// costs the same however long the file, and a new key is inserted among the blank lines
// at the section's end only, so it moves no key line.
struct CIniDocument::Content {
  struct Section {
    std::vector<IniLine> lines;
    CNameIndex keys;        // the first line of each key
    size_t lastFilled = 0;  // the last line that is not blank (the header, if nothing else)

    const std::wstring& NameOf(size_t line) const { return lines[line].name; }
    size_t FindKey(std::wstring_view key) const {
      return keys.Find(key, [this](size_t line) -> const std::wstring& { return NameOf(line); });
    }
    void AddKey(std::wstring_view key, size_t line) {
      keys.Add(key, line, [this](size_t at) -> const std::wstring& { return NameOf(at); });
    }

    void Add(IniLine line) {
      lines.push_back(std::move(line));
      const IniLine& added = lines.back();
      if (added.kind == LineKind::kKey) AddKey(added.name, lines.size() - 1);
      if (!added.blank) lastFilled = lines.size() - 1;
    }
  };

  IniEncoding encoding = IniEncoding::kAnsi;
  std::string bom;
  std::vector<Section> sections = std::vector<Section>(1);
  CNameIndex firstSection;  // the first section of each name, by its number in sections

  const std::wstring& SectionName(size_t number) const { return sections[number].lines[0].name; }

  std::string LineEnd() const { return Encode(encoding, L"\r\n"); }

  IniLine MakeLine(const std::wstring& text) const {
    IniLine line;
    line.raw = Encode(encoding, text) + LineEnd();
    line.hasEnd = true;
    Parse(text, &line);
    return line;
  }

  void Add(IniLine line) {
    if (line.kind == LineKind::kSection) {
      sections.emplace_back();
      sections.back().Add(std::move(line));
      const size_t number = sections.size() - 1;
      firstSection.Add(SectionName(number), number,
                       [this](size_t at) -> const std::wstring& { return SectionName(at); });
      return;
    }
    sections.back().Add(std::move(line));
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
      Add(std::move(line));
      start = stop;
    }
  }

  // The first section of that name, or nullptr.
  Section* FindSection(std::wstring_view name) {
    const size_t found = firstSection.Find(
        name, [this](size_t number) -> const std::wstring& { return SectionName(number); });
    return found == CNameIndex::kNone ? nullptr : &sections[found];
  }
  const Section* FindSection(std::wstring_view name) const {
    return const_cast<Content*>(this)->FindSection(name);
  }

  // The first line of the key in the first section of that name, or nullptr.
  const IniLine* FindKey(std::wstring_view section, std::wstring_view key) const {
    const Section* found = FindSection(section);
    if (found == nullptr) return nullptr;
    const size_t line = found->FindKey(key);
    return line == CNameIndex::kNone ? nullptr : &found->lines[line];
  }

  // The file's last line, or nullptr when it has none.
  IniLine* LastLine() {
    for (size_t i = sections.size(); i-- > 0;)
      if (!sections[i].lines.empty()) return &sections[i].lines.back();
    return nullptr;
  }

  void EndLine(IniLine* line) const {
    if (!line->hasEnd) {
      line->raw += LineEnd();
      line->hasEnd = true;
    }
  }
};

namespace {

// A file another program writes in place is empty, or shorter than its size says, for a
// moment: such a reading is taken again, for this long at most.
constexpr auto kSettleTime = std::chrono::milliseconds(200);
// An empty file written as recently as this may be one whose writer has only just emptied
// it; one written longer ago is taken for empty at once.
constexpr int64_t kRecentNs = 2'000'000'000;

bool WrittenRecently(const FileIdentity& identity) {
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  // A time ahead of the clock (another machine's file system) counts as recent.
  return now - identity.modifiedNs < kRecentNs;
}

// Reads the whole file at path once; identity describes it as it was read.
Status ReadOnce(const std::wstring& path, std::string* bytes, FileIdentity* identity,
                bool* settled) {
  bytes->clear();
  *settled = false;
  FileIdentity before;
  if (Status s = QueryFileIdentity(path, &before); !s) return s;
  *identity = before;
  if (!before.exists) {
    *settled = true;
    return Status();
  }
  if (before.isDirectory)
    return Status::Error(StatusKind::kIoError, path, 0, "a folder, not a file");
  CBinaryFile in;
  if (Status opened = in.Open(path, CBinaryFile::Mode::kRead); !opened) {
    // Gone between the query and the open: renamed away by its writer, say.
    if (opened.Kind() == StatusKind::kNotFound) return Status();
    return opened;
  }
  std::string buffer(1 << 16, '\0');
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer.data(), buffer.size());
    if (got < 0) return in.Error();
    if (got == 0) break;
    bytes->append(buffer.data(), static_cast<size_t>(got));
  }
  in.Close();  // read to the end: a failure to close changes nothing that was read
  FileIdentity after;
  if (Status s = QueryFileIdentity(path, &after); !s) return s;
  *settled = after == before && bytes->size() == before.size &&
             (!bytes->empty() || !WrittenRecently(before));
  return Status();
}

// Reads the whole file at path as it stands when nobody writes it: a reading during which
// it changed, or that is shorter than its size, is taken again, and so is an empty file
// written in the last moments, until kSettleTime has passed. An empty file that stayed as
// it was is empty then; anything else is still being written, and part of it must not
// pass for the whole (kChanged).
Status ReadSettled(const std::wstring& path, std::string* bytes, FileIdentity* identity) {
  const auto deadline = std::chrono::steady_clock::now() + kSettleTime;
  for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, kSettleTime / 10)) {
    bool settled = false;
    if (Status s = ReadOnce(path, bytes, identity, &settled); !s || settled) return s;
    if (std::chrono::steady_clock::now() >= deadline) {
      FileIdentity now;
      if (bytes->empty() && QueryFileIdentity(path, &now) && now == *identity) return Status();
      return Status::Error(StatusKind::kChanged, path, 0, "being written by another program");
    }
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace

CIniDocument::CIniDocument() : m_content(std::make_unique<Content>()) {}
CIniDocument::~CIniDocument() = default;
CIniDocument::CIniDocument(CIniDocument&&) noexcept = default;
CIniDocument& CIniDocument::operator=(CIniDocument&&) noexcept = default;

Status CIniDocument::Load(const std::wstring& path) {
  m_path = path;
  m_content = std::make_unique<Content>();
  m_changed = false;
  m_read.clear();
  m_identity = FileIdentity();
  // Only a file that is not there makes an empty document: after any other failure a
  // save would replace the user's settings with what this program adds alone.
  if (Status s = ReadSettled(path, &m_read, &m_identity); !s) {
    m_read.clear();
    return s;
  }

  std::string_view body(m_read);
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
  const Content::Section* found = m_content->FindSection(section);
  if (found == nullptr) return names;
  for (const IniLine& line : found->lines)
    if (line.kind == LineKind::kKey) names.push_back(line.name);
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
  const std::wstring_view sectionName = Trim(section);
  const std::wstring_view keyName = Trim(key);
  const std::wstring_view newValue = Trim(value);
  if (sectionName.empty() || keyName.empty()) return false;
  if (!CanEncode(content.encoding, sectionName) || !CanEncode(content.encoding, keyName) ||
      !CanEncode(content.encoding, newValue))
    return false;

  Content::Section* found = content.FindSection(sectionName);
  if (found == nullptr) {
    if (IniLine* last = content.LastLine()) content.EndLine(last);
    content.Add(content.MakeLine(std::wstring(L"[").append(sectionName).append(L"]")));
    content.Add(content.MakeLine(KeyLine(keyName, newValue)));
    m_changed = true;
    return true;
  }
  std::vector<IniLine>& lines = found->lines;
  if (const size_t at = found->FindKey(keyName); at != CNameIndex::kNone) {
    IniLine& old = lines[at];
    // Like Windows, an unchanged value leaves the file untouched.
    if (old.value == newValue) return true;
    IniLine line = content.MakeLine(KeyLine(old.name, newValue));
    // The changed line keeps its own end when it has one (a file of LF lines stays so).
    if (old.hasEnd && !old.raw.ends_with(content.LineEnd()))
      line.raw = Encode(content.encoding, KeyLine(old.name, newValue)) +
                 Encode(content.encoding, L"\n");
    old = std::move(line);
    m_changed = true;
    return true;
  }
  // A new key goes after the section's last line that is not blank, so the blank lines
  // that separate it from the next section stay where they are.
  content.EndLine(&lines[found->lastFilled]);
  const size_t at = found->lastFilled + 1;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
               content.MakeLine(KeyLine(keyName, newValue)));
  found->AddKey(keyName, at);
  found->lastFilled = at;
  m_changed = true;
  return true;
}

std::string CIniDocument::Bytes() const {
  size_t size = m_content->bom.size();
  for (const Content::Section& section : m_content->sections)
    for (const IniLine& line : section.lines) size += line.raw.size();
  std::string bytes;
  bytes.reserve(size);
  bytes = m_content->bom;
  for (const Content::Section& section : m_content->sections)
    for (const IniLine& line : section.lines) bytes += line.raw;
  return bytes;
}

Status CIniDocument::Commit() {
  if (!m_changed) return Status();
  // A program that rewrites the file with what it held already (LumoDict saves its
  // settings on exit, changed or not) changes nothing the edit was made of: only other
  // bytes count.
  const auto stillAsRead = [this]() -> Status {
    constexpr int kRewritesAccepted = 3;
    for (int i = 0; i < kRewritesAccepted; ++i) {
      FileIdentity now;
      if (Status s = QueryFileIdentity(m_path, &now); !s) return s;
      if (now == m_identity) return Status();
      std::string bytes;
      if (Status s = ReadSettled(m_path, &bytes, &now); !s) return s;
      if (bytes != m_read)
        return Status::Error(StatusKind::kChanged, m_path, 0,
                             "changed by another program meanwhile");
      m_identity = now;
    }
    return Status::Error(StatusKind::kChanged, m_path, 0, "being written by another program");
  };
  Status written = WriteFileAtomically(m_path, Bytes(), stillAsRead);
  if (written) m_changed = false;
  return written;
}

}  // namespace platform
