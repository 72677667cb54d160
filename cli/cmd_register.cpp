// ldic register: adds a package to LumoDict's dictionary list, as the dialog does after a
// conversion with its box ticked. The outcome's message goes to stdout when the package
// was registered and to stderr (exit status 1) when it was refused or not written.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "cli/cli_output.h"
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

constexpr char kRegisterDescription[] = "add a package to LumoDict's list of dictionaries";

constexpr char kRegisterFooter[] =
    "The package is added ticked, as the dialog does after a conversion: entries whose\n"
    "files are gone are dropped, and a package that is already listed (the same checksum,\n"
    "under any path) is refused. LumoDict's settings file is LumoDict.ini in the folder\n"
    "Norvane/LumoDict of the user's application-data folder (on Linux $APPDATA, else\n"
    "$XDG_CONFIG_HOME, else ~/.config); it must exist: LumoDict creates it.\n"
    "Exit status: 0 registered, 1 refused or not written, 2 wrong arguments.\n"
    "Example: ldic register words.ldic --ini ~/LumoDict.ini";

// Registers the package at packagePath; iniPath empty means LumoDict's own settings file.
// Returns the exit status.
int RegisterPackageFile(const std::wstring& packagePath, const std::wstring& iniPath) {
  // The dialog registers the package it has just written; from the command line any path
  // can come, and an entry that is no readable package would be dropped by the next
  // registration anyway, so it is refused here.
  PackageHeader header;
  std::map<std::wstring, std::wstring> metadata;
  if (PathExtension(packagePath) != L"ldic" || !ReadPackageInfo(packagePath, &header, &metadata)) {
    PrintFailure("not a readable .ldic package",
                 WhyUnusable(PathFromWide(packagePath), StatusKind::kCorrupt, false));
    return kExitFailure;
  }
  const std::wstring settings = iniPath.empty() ? platform::LumoDictSettingsPath() : iniPath;
  CConsoleWarningSink sink(settings);
  return RegisterWithHost(packagePath, settings, sink) == RegisterOutcome::kRegistered
             ? kExitSuccess
             : kExitFailure;
}

}  // namespace

LdicCommand AddRegisterCommand(CLI::App& ldic) {
  struct Arguments {
    std::string package;
    std::string ini;
  };
  auto args = std::make_shared<Arguments>();
  CLI::App& command = NewCommand(ldic, "register", kRegisterDescription, kRegisterFooter);
  command.add_option("PACKAGE", args->package, "the package (.ldic) to add")->required();
  command.add_option("--ini", args->ini, "LumoDict's settings file (default: LumoDict's own)")
      ->option_text("SETTINGS")
      ->check(CLI::Validator([](std::string& value) { return value.empty() ? "empty path" : ""; },
                             "", "not empty"));
  return {&command, [args] {
            if (args->package == "-")
              return UsageError("register", "LumoDict lists a package by its path; standard input ('-') has none");
            // LumoDict's list holds full paths; a relative one would mean nothing to it.
            std::error_code ec;
            const fs::path package =
                fs::absolute(PathFromUtf8(args->package), ec).lexically_normal();
            const std::wstring ini = args->ini.empty()
                                         ? std::wstring()
                                         : PathToWide(fs::absolute(PathFromUtf8(args->ini), ec));
            return RegisterPackageFile(PathToWide(package), ini);
          }};
}
