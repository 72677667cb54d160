#pragma once
// The ldic commands. Each is a subcommand on one CLI11 parser: it adds its arguments and
// options, bound to state of its own, and hands back what runs it once the command line
// has been parsed. Every command follows the rules of cli_output.h.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "package/metadata.h"

namespace CLI {
class App;
}

// Runs ldic on its arguments (UTF-8, without the program's name); returns the exit status.
int RunLdic(std::vector<std::string> args);

struct LdicCommand {
  CLI::App* app;
  std::function<int()> run;
};

LdicCommand AddConvertCommand(CLI::App& ldic);
LdicCommand AddRegisterCommand(CLI::App& ldic);
LdicCommand AddInfoCommand(CLI::App& ldic);
LdicCommand AddVerifyCommand(CLI::App& ldic);
LdicCommand AddDumpCommand(CLI::App& ldic);
LdicCommand AddLookupCommand(CLI::App& ldic);
LdicCommand AddExportCommand(CLI::App& ldic);

// A new command on ldic's parser, listed under "Commands", with -q/--quiet. The footer
// follows the options in its help: notes and an example.
CLI::App& NewCommand(CLI::App& ldic, const std::string& name, const std::string& description,
                     const std::string& footer);

// A conversion as the command line asked for it, its paths resolved and checked.
struct ConvertRequest {
  std::filesystem::path wordList;  // empty when the list comes from standard input
  bool fromStandardInput = false;
  std::filesystem::path package;   // absolute
  PackageFacts facts;              // name and date filled in
  unsigned threads = 0;            // 0: one per core
  bool timings = false;
  bool registerPackage = false;
  std::wstring ini;                // for registerPackage; empty: LumoDict's own settings
  bool quiet = false;
};

// Runs the conversion on a worker thread, writes the package, removes the temporary files
// and registers the package when asked; returns the exit status.
int RunConversion(const ConvertRequest& request);

// Adds a package that convert has just written to LumoDict's list, as the dialog does when
// its box is ticked; iniPath empty means LumoDict's own settings file. Returns the exit
// status: 0 registered, 1 refused or not written.
int RegisterConvertedPackage(const std::wstring& packagePath, const std::wstring& iniPath);
