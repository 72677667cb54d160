// The profile store on Windows: the private-profile functions on the settings file, as the
// framework's profile functions call them when the application has no registry key.

#include <windows.h>

#include <string>

#include "platform/profile.h"

namespace platform {

namespace {

// The private-profile functions keep a file's encoding: a file that starts with a
// byte-order mark stays Unicode, any other (or a new) file is written in the ANSI code
// page, where characters outside the code page would silently become "?".
bool FileIsUnicode(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char head[3] = {};
  DWORD got = 0;
  const BOOL read = ReadFile(file, head, sizeof head, &got, nullptr);
  CloseHandle(file);
  if (!read) return false;
  if (got >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF)))
    return true;
  return got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
}

bool FitsAnsiCodePage(std::wstring_view text) {
  if (text.empty() || GetACP() == CP_UTF8) return true;
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         &usedDefault);
  return length > 0 && !usedDefault;
}

}  // namespace

int CProfileStore::GetProfileInt(std::wstring_view section, std::wstring_view key,
                                 int defaultValue) const {
  return static_cast<int>(GetPrivateProfileIntW(std::wstring(section).c_str(),
                                                std::wstring(key).c_str(), defaultValue,
                                                m_path.c_str()));
}

std::wstring CProfileStore::GetProfileString(std::wstring_view section, std::wstring_view key,
                                             std::wstring_view defaultValue) const {
  wchar_t buffer[kProfileStringBufferLength];
  const DWORD length = GetPrivateProfileStringW(
      std::wstring(section).c_str(), std::wstring(key).c_str(),
      std::wstring(defaultValue).c_str(), buffer, kProfileStringBufferLength, m_path.c_str());
  return std::wstring(buffer, length);
}

bool CProfileStore::WriteProfileInt(std::wstring_view section, std::wstring_view key,
                                    int value) {
  return WriteProfileString(section, key, std::to_wstring(value));
}

bool CProfileStore::WriteProfileString(std::wstring_view section, std::wstring_view key,
                                       std::wstring_view value) {
  if (!CanStoreString(value)) return false;
  return WritePrivateProfileStringW(std::wstring(section).c_str(), std::wstring(key).c_str(),
                                    std::wstring(value).c_str(), m_path.c_str()) != 0;
}

bool CProfileStore::CanStoreString(std::wstring_view value) const {
  return FileIsUnicode(m_path) || FitsAnsiCodePage(value);
}

}  // namespace platform
