#pragma once
// The description of one dictionary listed in LumoDict's settings (or of a new package):
// its name, language direction, texts and the numbers that decide whether two entries
// are the same dictionary. The kind is recognised from the path alone:
//   "...ldict"  LumoDict's own dictionary file
//   "...ldic"   a package made by this system
//   "http://..." a network dictionary (any path whose extension is not "ifo")
//   "...ifo"    a StarDict information file
// Extensions are compared with letter case, as the host writes them.

#include <cstdint>
#include <map>
#include <string>

#include "package/format.h"

struct DictDescription {
  std::wstring path;
  std::wstring name;
  std::wstring language;  // such as "英汉", "汉英" or "英汉/汉英"
  std::wstring author;
  std::wstring description;
  std::wstring website;
  std::wstring date;
  std::wstring email;
  int32_t wordCount = 0;
  bool checked = true;  // the host's ticked state, set by registration
  int32_t totalSize = 0;
  int32_t indexSize = 0;
  int64_t modifiedTime = 0;  // seconds since 1970-01-01 00:00 UTC
  uint32_t checksum = 0;     // a package's CRC-32; 0 for every other kind

  // Sets path and every other field to its initial value.
  void Init(const std::wstring& entryPath);
  // Fills the description from the file or address (after Init with the same path).
  // False, with the fields left as Init set them, when the kind is not recognised or the
  // file cannot be read.
  bool Describe(const std::wstring& entryPath);
};

// Reads a package's header and its metadata block, as LumoDict reads them (the lenient
// rules of format.h, the last item of a key counting). False when the file is missing or
// unreadable, the header is short, or the block is empty, longer than
// kMaxHostMetadataLength bytes or cut short.
bool ReadPackageInfo(const std::wstring& path, PackageHeader* header,
                     std::map<std::wstring, std::wstring>* metadata);

// The web address given to LumoDict's own dictionary files.
extern const wchar_t kHostDictionaryWebsite[];
