#pragma once
// The information file (.ifo) of a dictionary in the StarDict layout, read only so that a
// listed StarDict dictionary can be compared with a new package. The loader accepts a
// narrow subset of the format: the plain-dictionary magic, versions 2.4.2 and 3.0.0 with
// 32-bit index offsets, LF line ends, keys spelled in lower case at the start of a line.

#include <cstdint>
#include <string>

namespace LumoDict {

class CStarDictInfoFile {
 public:
  CStarDictInfoFile() = default;
  virtual ~CStarDictInfoFile() = default;

  // Loads the information file at path, whose extension is "ifo", and checks that its
  // index (.idx) and data (.dict or .dict.dz) companions exist. False on any failure; the
  // object's contents are then meaningless.
  bool Load(const std::wstring& path);

  int32_t m_wordCount = 0;
  int32_t m_synWordCount = 0;
  int32_t m_idxFileSize = 0;
  std::string m_dictType;  // text values: the file's bytes (UTF-8), unconverted
  std::string m_bookName;
  std::string m_author;
  std::string m_email;
  std::string m_website;
  std::string m_date;
  std::string m_description;
  std::string m_sameTypeSequence;
  uint32_t m_totalFileSize = 0;  // index size plus data size, wrapping past 4 GiB
  int64_t m_idxModifiedTime = 0;  // seconds since 1970-01-01 00:00 UTC
};

}  // namespace LumoDict
