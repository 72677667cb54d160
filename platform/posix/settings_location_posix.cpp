#include <cstdlib>
#include <string>

#include "common/utf.h"
#include "platform/settings_location.h"

namespace platform {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

std::wstring LumoDictSettingsPath() {
  // $APPDATA first, so a Windows-like environment (or a test) can point ldic anywhere.
  std::string folder = Environment("APPDATA");
  if (folder.empty()) folder = Environment("XDG_CONFIG_HOME");
  if (folder.empty()) {
    const std::string home = Environment("HOME");
    if (home.empty()) return {};
    folder = home + "/.config";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return Utf8ToWideText(folder + "/Norvane/LumoDict/LumoDict.ini");
}

}  // namespace platform
