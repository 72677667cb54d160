#include "host/dict_description.h"

#include <string_view>
#include <vector>

#include "common/paths.h"
#include "common/utf.h"
#include "package/stardict_info.h"
#include "platform/file.h"
#include "common/byte_order.h"
#include "platform/file_system.h"

const wchar_t kHostDictionaryWebsite[] = L"http://dict.norvane.com/";

namespace {

constexpr size_t kIndexOffsetField = 8;
constexpr size_t kIndexSizeField = 12;
constexpr size_t kEntryCountField = 24;
constexpr size_t kChecksumField = 28;

// The host names its dictionaries like "简明英汉词典": the language direction stands at
// positions 2 and 3 of the name.
std::wstring LanguageOfName(const std::wstring& name) {
  return name.size() < 3 ? std::wstring() : name.substr(2, 2);
}

// One metadata item counts when cutting it at its "=" signs leaves exactly two non-empty
// pieces, key and value; "N=" or "A=b=c" are ignored.
void AddMetadataItem(std::u16string_view item, std::map<std::wstring, std::wstring>* metadata) {
  std::vector<std::u16string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t equals = item.find(u'=', start);
    const std::u16string_view piece = item.substr(start, equals == item.npos ? item.npos : equals - start);
    if (!piece.empty()) pieces.push_back(piece);
    if (equals == item.npos) break;
    start = equals + 1;
  }
  if (pieces.size() == 2) (*metadata)[Utf16ToWide(pieces[0])] = Utf16ToWide(pieces[1]);
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWideText(text); }

bool ReadPackageInfo(const std::wstring& path, unsigned char header[kPackageHeaderLength],
                     std::map<std::wstring, std::wstring>* metadata) {
  platform::FileStatus status;
  if (!platform::QueryFileStatus(path, &status) || status.isDirectory) return false;
  platform::CBinaryFile file;
  if (!file.Open(path, platform::CBinaryFile::Mode::kRead)) return false;
  if (file.Read(header, kPackageHeaderLength) != static_cast<std::ptrdiff_t>(kPackageHeaderLength))
    return false;

  // The metadata block lies between the header and the index.
  const uint32_t length = GetLe32(header + kIndexOffsetField) - kPackageHeaderLength;
  if (length == 0 || length > kMaxPackageMetadataLength) return false;
  std::string block(length, '\0');
  if (file.Read(block.data(), length) != static_cast<std::ptrdiff_t>(length)) return false;

  metadata->clear();
  std::u16string units;
  for (size_t i = 0; i + 1 < block.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(block[i]) |
                                          static_cast<unsigned char>(block[i + 1]) << 8));
  // Items are separated by U+0000; the writer leaves the last one unterminated.
  size_t start = 0;
  for (;;) {
    const size_t end = units.find(u'\0', start);
    const std::u16string_view item =
        std::u16string_view(units).substr(start, end == units.npos ? units.npos : end - start);
    if (!item.empty()) AddMetadataItem(item, metadata);
    if (end == units.npos) break;
    start = end + 1;
  }
  return true;
}

void DictDescription::Init(const std::wstring& entryPath) {
  *this = DictDescription();
  path = entryPath;
}

bool DictDescription::Describe(const std::wstring& entryPath) {
  const std::wstring ext = PathExtension(entryPath);

  if (ext == L"ldict") {
    platform::FileStatus status;
    if (!platform::QueryFileStatus(entryPath, &status)) return false;
    totalSize = static_cast<int32_t>(status.size);
    modifiedTime = status.modifiedTime;
    name = PathBaseName(entryPath);
    language = LanguageOfName(name);
    author = L"诺凡公司";
    description = L"桌面必备的绿色免费翻译软件！Lumo词典提供强大的查询、发音、屏幕取词等功能。";
    website = kHostDictionaryWebsite;
    wordCount = (language == L"英汉" || language == L"汉英") ? 1000 : 0;
    return true;
  }

  if (ext == L"ldic") {
    unsigned char header[kPackageHeaderLength];
    std::map<std::wstring, std::wstring> metadata;
    if (!ReadPackageInfo(entryPath, header, &metadata)) return false;
    indexSize = static_cast<int32_t>(GetLe32(header + kIndexSizeField));
    wordCount = static_cast<int32_t>(GetLe32(header + kEntryCountField));
    checksum = GetLe32(header + kChecksumField);
    const auto found = metadata.find(L"N");
    if (found != metadata.end()) name = found->second;
    return true;
  }

  if (ext != L"ifo") {
    if (!entryPath.starts_with(L"http://")) return false;
    name = L"Lumo网络词典";
    language = L"英汉/汉英";
    return true;
  }

  LumoDict::CStarDictInfoFile info;
  if (!info.Load(entryPath)) return false;
  totalSize = static_cast<int32_t>(info.m_totalFileSize);
  modifiedTime = info.m_idxModifiedTime;
  name = Utf8ToWide(info.m_bookName);
  language = LanguageOfName(name);
  author = Utf8ToWide(info.m_author);
  description = Utf8ToWide(info.m_description);
  website = Utf8ToWide(info.m_website);
  date = Utf8ToWide(info.m_date);
  email = Utf8ToWide(info.m_email);
  wordCount = info.m_wordCount;
  indexSize = info.m_idxFileSize;
  return true;
}
