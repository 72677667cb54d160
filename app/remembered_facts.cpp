#include "app/remembered_facts.h"

#include <windows.h>

#include <vector>

#include "package/format.h"

namespace {

constexpr wchar_t kDefaultKey[] = L"Software\\LumoDictGen";

std::wstring& KeyOverride() {
  static std::wstring key;
  return key;
}

// One value as text: a string of sensible length, cut at its first NUL. Any other type, or
// a string longer than the whole metadata block LumoDict reads, is damage and reads as
// empty rather than filling a box with rubbish.
std::wstring ReadText(HKEY key, const wchar_t* name) {
  constexpr DWORD kMaxChars = kMaxHostMetadataLength;
  DWORD type = 0;
  DWORD bytes = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_SZ || bytes > (kMaxChars + 1) * sizeof(wchar_t))
    return {};
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD got = bytes;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) !=
          ERROR_SUCCESS ||
      type != REG_SZ || got > bytes)
    return {};
  return std::wstring(text.data());  // stops at the first NUL, the terminator or not
}

bool WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes) ==
         ERROR_SUCCESS;
}

}  // namespace

const std::wstring& RememberedFactsKey() {
  static const std::wstring defaultKey = kDefaultKey;
  return KeyOverride().empty() ? defaultKey : KeyOverride();
}

void SetRememberedFactsKeyForTesting(const std::wstring& subkey) { KeyOverride() = subkey; }

RememberedFacts LoadRememberedFacts() {
  RememberedFacts facts;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, RememberedFactsKey().c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return facts;
  facts.author = ReadText(key, L"Author");
  facts.lumo = ReadText(key, L"LumoNumber");
  facts.version = ReadText(key, L"Version");
  facts.folder = ReadText(key, L"Folder");
  ::RegCloseKey(key);
  return facts;
}

bool SaveRememberedFacts(const RememberedFacts& facts) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, RememberedFactsKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = WriteText(key, L"Author", facts.author);
  ok = WriteText(key, L"LumoNumber", facts.lumo) && ok;
  ok = WriteText(key, L"Version", facts.version) && ok;
  ok = WriteText(key, L"Folder", facts.folder) && ok;
  ::RegCloseKey(key);
  return ok;
}
