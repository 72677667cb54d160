// ldic register: adds a package to LumoDict's dictionary list, as the dialog does after a
// conversion with its box ticked. The outcome's message goes to stdout when the package
// was registered and to stderr (exit status 1) when it was refused or not written.

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "common/paths.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "host/dict_description.h"
#include "platform/settings_location.h"
#include "service/conversion_service.h"

namespace fs = std::filesystem;

namespace {

constexpr char kRegisterUsage[] =
    "usage: ldic register PACKAGE [--ini SETTINGS]\n"
    "\n"
    "Adds the package PACKAGE (.ldic) to LumoDict's dictionary list, ticked, as the dialog\n"
    "does after a conversion: entries whose files are gone are dropped, and a package that\n"
    "is already listed (the same checksum, under any path) is refused.\n"
    "  --ini SETTINGS  LumoDict's settings file (default: LumoDict.ini in the folder\n"
    "                  Norvane/LumoDict of the user's application-data folder; on Linux\n"
    "                  $APPDATA, else $XDG_CONFIG_HOME, else ~/.config)\n"
    "The settings file must exist: LumoDict creates it.\n"
    "Exit status: 0 registered, 1 refused or not written, 2 wrong arguments.\n"
    "Example: ldic register words.ldic --ini ~/LumoDict.ini\n";

// Registers the package at packagePath; iniPath empty means LumoDict's own settings file.
// Returns the exit status: 0 registered, 1 refused or not written.
int RegisterPackageFile(const std::wstring& packagePath, const std::wstring& iniPath) {
  // The dialog registers the package it has just written; from the command line any path
  // can come, and an entry that is no readable package would be dropped by the next
  // registration anyway, so it is refused here.
  PackageHeader header;
  std::map<std::wstring, std::wstring> metadata;
  if (PathExtension(packagePath) != L"ldic" || !ReadPackageInfo(packagePath, &header, &metadata)) {
    PrintError(("not a readable .ldic package: " + WideToUtf8(packagePath)).c_str());
    return 1;
  }
  const std::wstring settings = iniPath.empty() ? platform::LumoDictSettingsPath() : iniPath;
  CConsoleWarningSink sink;
  return RegisterWithHost(packagePath, settings, sink) == RegisterOutcome::kRegistered ? 0 : 1;
}

}  // namespace

int RunRegisterCommand(int argc, char** argv) {
  std::string package;
  std::string ini;
  bool haveIni = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kRegisterUsage, stdout);
      return 0;
    }
    if (arg == "--ini") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        PrintError("--ini needs a value (see ldic register --help)");
        return 2;
      }
      ini = argv[++i];
      haveIni = true;
    } else if (!arg.empty() && arg[0] == '-') {
      PrintError(("unknown option " + arg + " (see ldic register --help)").c_str());
      return 2;
    } else if (package.empty()) {
      package = arg;
    } else {
      PrintError(("unexpected argument " + arg + " (see ldic register --help)").c_str());
      return 2;
    }
  }
  if (package.empty()) {
    std::fputs(kRegisterUsage, stderr);
    return 2;
  }

  // LumoDict's list holds full paths; a relative one would mean nothing to it.
  std::error_code ec;
  const fs::path packagePath = fs::absolute(PathFromUtf8(package), ec).lexically_normal();
  const fs::path iniPath = haveIni ? fs::absolute(PathFromUtf8(ini), ec) : fs::path();
  return RegisterPackageFile(PathToWide(packagePath), haveIni ? PathToWide(iniPath) : L"");
}
