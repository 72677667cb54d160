#include "host/dict_description.h"

#include <string_view>
#include <vector>

#include "common/paths.h"
#include "common/utf.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "stardict/stardict_info.h"

const wchar_t kHostDictionaryWebsite[] = L"http://dict.norvane.com/";

namespace {

// The host names its dictionaries like "简明英汉词典": the language direction stands at
// positions 2 and 3 of the name.
std::wstring LanguageOfName(const std::wstring& name) {
  return name.size() < 3 ? std::wstring() : name.substr(2, 2);
}

}  // namespace

bool ReadPackageInfo(const std::wstring& path, PackageHeader* header,
                     std::map<std::wstring, std::wstring>* metadata) {
  platform::FileStatus status;
  if (!platform::QueryFileStatus(path, &status) || status.isDirectory) return false;
  platform::CBinaryFile file;
  if (!file.Open(path, platform::CBinaryFile::Mode::kRead)) return false;
  unsigned char bytes[kPackageHeaderSize];
  if (file.Read(bytes, sizeof bytes) != static_cast<std::ptrdiff_t>(sizeof bytes)) return false;
  *header = PackageHeader::DecodeFrom(bytes);

  // The metadata block lies between the header and the index; an offset inside the
  // header wraps round to a length far over the limit.
  const uint32_t length = header->indexOffset - kPackageHeaderSize;
  if (length == 0 || length > kMaxHostMetadataLength) return false;
  std::string block(length, '\0');
  if (file.Read(block.data(), length) != static_cast<std::ptrdiff_t>(length)) return false;

  std::vector<MetadataItem> items;
  DecodeMetadataItems(DecodeMetadataBytes(block), MetadataRules::kLenient, &items);
  metadata->clear();
  for (const MetadataItem& item : items) (*metadata)[Utf16ToWide(item.key)] = Utf16ToWide(item.value);
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
    PackageHeader header;
    std::map<std::wstring, std::wstring> metadata;
    if (!ReadPackageInfo(entryPath, &header, &metadata)) return false;
    indexSize = static_cast<int32_t>(header.indexSize);
    wordCount = static_cast<int32_t>(header.entryCount);
    checksum = header.checksum;
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
  name = Utf8ToWideText(info.m_bookName);
  language = LanguageOfName(name);
  author = Utf8ToWideText(info.m_author);
  description = Utf8ToWideText(info.m_description);
  website = Utf8ToWideText(info.m_website);
  date = Utf8ToWideText(info.m_date);
  email = Utf8ToWideText(info.m_email);
  wordCount = info.m_wordCount;
  indexSize = info.m_idxFileSize;
  return true;
}
