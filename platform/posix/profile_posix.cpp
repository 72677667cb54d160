// The profile store on POSIX: the INI document, loaded afresh for every call as the
// private-profile functions read the file afresh.

#include "platform/profile.h"

namespace platform {

namespace {

CIniDocument Loaded(const std::wstring& path) {
  CIniDocument document;
  if (!document.Load(path)) document = CIniDocument();  // unreadable: empty
  return document;
}

}  // namespace

int CProfileStore::GetProfileInt(std::wstring_view section, std::wstring_view key,
                                 int defaultValue) const {
  return Loaded(m_path).GetProfileInt(section, key, defaultValue);
}

std::wstring CProfileStore::GetProfileString(std::wstring_view section, std::wstring_view key,
                                             std::wstring_view defaultValue) const {
  return Loaded(m_path).GetProfileString(section, key, defaultValue);
}

bool CProfileStore::WriteProfileInt(std::wstring_view section, std::wstring_view key,
                                    int value) {
  return WriteProfileString(section, key, std::to_wstring(value));
}

bool CProfileStore::WriteProfileString(std::wstring_view section, std::wstring_view key,
                                       std::wstring_view value) {
  CIniDocument document;
  return document.Load(m_path).ok() && document.SetProfileString(section, key, value) &&
         document.Commit().ok();
}

bool CProfileStore::CanStoreString(std::wstring_view value) const {
  CIniDocument document;
  return document.Load(m_path).ok() && document.CanStoreString(value);
}

}  // namespace platform
