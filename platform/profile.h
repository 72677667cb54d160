#pragma once
// The profile store: named integer and string values in sections of one INI file, read
// and written the way the Windows private-profile functions do. LumoDict's settings file
// is such a file, and host registration edits its dictionary list through this store.
//
// Reading (both implementations):
//   - section and key names are compared without regard to letter case, blanks around
//     names and values are ignored, and within the first section of a name the first
//     line with the key counts;
//   - a value enclosed in a matching pair of single or double quotes loses the quotes;
//   - a string value is read into a 4096-character buffer, so at most 4095 characters;
//   - an integer is the value's optional sign and leading decimal digits; a missing key
//     or an empty value gives the default;
//   - a missing or unreadable file reads as empty.
// Writing:
//   - a changed key keeps its place and the spelling of its name; a new key goes after
//     the last line of its section; a missing section goes at the end of the file with
//     its key; a missing file is created (its folder is not);
//   - lines are written as "key=value" and end with CR LF;
//   - the file keeps its encoding: UTF-16LE when it starts with that byte-order mark,
//     otherwise the ANSI code page (a new file is ANSI, as Windows makes it);
//   - a value the file's encoding cannot hold is refused: the write fails and the file
//     is left as it was, rather than storing a path with "?" in it.
//
// <windows.h> defines GetProfileInt, GetProfileString, WriteProfileString as macros for
// functions of its own; the store keeps the framework's names, so the macros are removed
// here. Include this header after <windows.h>.

#include <string>
#include <string_view>
#include <utility>

#include "platform/ini_document.h"

#ifdef GetProfileInt
#undef GetProfileInt
#endif
#ifdef GetProfileString
#undef GetProfileString
#endif
#ifdef WriteProfileString
#undef WriteProfileString
#endif

namespace platform {

// The operations host registration needs; tests put a failing store in its place.
class IProfileStore {
 public:
  virtual ~IProfileStore() = default;

  virtual int GetProfileInt(std::wstring_view section, std::wstring_view key,
                            int defaultValue) const = 0;
  virtual std::wstring GetProfileString(std::wstring_view section, std::wstring_view key,
                                        std::wstring_view defaultValue) const = 0;
  // False when the file could not be written; the file then holds its old contents.
  virtual bool WriteProfileInt(std::wstring_view section, std::wstring_view key,
                               int value) = 0;
  virtual bool WriteProfileString(std::wstring_view section, std::wstring_view key,
                                  std::wstring_view value) = 0;
  // True when value can be written into the file as it is now without loss of
  // characters (an ANSI file cannot hold characters outside its code page).
  virtual bool CanStoreString(std::wstring_view value) const = 0;
};

// The store on one INI file: the private-profile functions on Windows, the INI document
// elsewhere (which rewrites only the line it changes or adds, so every other byte of the
// file stays as it was, and replaces the file in one step).
class CProfileStore : public IProfileStore {
 public:
  explicit CProfileStore(std::wstring iniPath) : m_path(std::move(iniPath)) {}

  const std::wstring& Path() const { return m_path; }

  int GetProfileInt(std::wstring_view section, std::wstring_view key,
                    int defaultValue) const override;
  std::wstring GetProfileString(std::wstring_view section, std::wstring_view key,
                                std::wstring_view defaultValue) const override;
  bool WriteProfileInt(std::wstring_view section, std::wstring_view key, int value) override;
  bool WriteProfileString(std::wstring_view section, std::wstring_view key,
                          std::wstring_view value) override;
  bool CanStoreString(std::wstring_view value) const override;

 private:
  std::wstring m_path;
};

}  // namespace platform
