#pragma once
// The profile store: named integer and string values in sections of one INI file, read
// and written the way the framework's profile functions do, one value per call. On
// Windows these are the private-profile functions themselves; elsewhere CIniDocument
// (platform/ini_document.h), which reads as they read and writes what they write. The
// tests read and write settings files through it, on Windows as LumoDict itself would.
//
// Host registration does not use it: it edits the whole list under a lock and replaces
// the file in one step (CIniDocument), which a write per value cannot do.
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

// The store on one INI file. A missing or unreadable file reads as empty; a write
// creates a missing file (not its folder) and fails, leaving the file as it was, when
// the file cannot be written or its encoding cannot hold the value.
class CProfileStore {
 public:
  explicit CProfileStore(std::wstring iniPath) : m_path(std::move(iniPath)) {}

  const std::wstring& Path() const { return m_path; }

  int GetProfileInt(std::wstring_view section, std::wstring_view key, int defaultValue) const;
  std::wstring GetProfileString(std::wstring_view section, std::wstring_view key,
                                std::wstring_view defaultValue) const;
  bool WriteProfileInt(std::wstring_view section, std::wstring_view key, int value);
  bool WriteProfileString(std::wstring_view section, std::wstring_view key,
                          std::wstring_view value);
  // True when value can be written into the file as it is now without loss of
  // characters (an ANSI file cannot hold characters outside its code page).
  bool CanStoreString(std::wstring_view value) const;

 private:
  std::wstring m_path;
};

}  // namespace platform
