#pragma once
// The ldic commands. Each is a subcommand on one CLI11 parser: it adds its arguments and
// options, bound to state of its own, and hands back what runs it once the command line
// has been parsed. Every command follows the rules of cli_output.h.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "package/format.h"

namespace CLI {
class App;
}

// Runs ldic on its arguments (UTF-8, without the program's name); returns the exit status.
int RunLdic(std::vector<std::string> args);

// What ldic's parser knows of one command ("" for ldic itself): its options as they are
// typed (-o, --output) and its arguments' names, so that the manual page and the shell
// completion can be checked against it.
struct CommandSyntax {
  std::string name;
  std::vector<std::string> options;
  std::vector<std::string> arguments;
};
std::vector<CommandSyntax> DescribeLdicCommands();

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
