#include <windows.h>
#include <shlobj.h>

#include <string>

#include "platform/settings_location.h"

namespace platform {

std::wstring LumoDictSettingsPath() {
  LPITEMIDLIST folderItem = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &folderItem)) || !folderItem)
    return {};
  wchar_t folder[MAX_PATH] = {};
  const BOOL found = SHGetPathFromIDListW(folderItem, folder);
  CoTaskMemFree(folderItem);
  if (!found || folder[0] == L'\0') return {};
  // The shell reports the folder without a trailing backslash, so the separator comes
  // with the tail: the path has the form "<folder>\Norvane\LumoDict\LumoDict.ini".
  return std::wstring(folder) + L"\\Norvane\\LumoDict\\LumoDict.ini";
}

}  // namespace platform
