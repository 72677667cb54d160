#pragma once
// Where LumoDict keeps its settings file for the current user.

#include <string>

namespace platform {

// The full path of LumoDict's settings file: on Windows the user's roaming
// application-data folder (CSIDL_APPDATA) followed by "\Norvane\LumoDict\LumoDict.ini";
// elsewhere $APPDATA when it is set, else the XDG config home ($XDG_CONFIG_HOME, else
// ~/.config), followed by "/Norvane/LumoDict/LumoDict.ini". Nothing is created and the
// file need not exist. Empty when the folder cannot be determined, a path that names no
// file, so that registration stays off.
std::wstring LumoDictSettingsPath();

}  // namespace platform
