// ldic's command line: one parser for every command, its help, its version, and how a
// wrong command line is reported.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "platform/console.h"

namespace {

constexpr char kVersionLine[] = "ldic " LDIC_VERSION;

constexpr char kDescription[] =
    "ldic " LDIC_VERSION ", the command-line companion of LumoDictGen: makes LumoDict packages\n"
    "(.ldic) from word lists, as the dialog does, and reads them back.";

constexpr char kFooter[] =
    "Run 'ldic help COMMAND' or 'ldic COMMAND --help' for the options and an example of one\n"
    "command. Every command takes -q (--quiet: print nothing on success), an option's value\n"
    "as --option=VALUE or --option VALUE, and -- to end the options, so that an argument may\n"
    "begin with '-'.\n"
    "\n"
    "Exit status, for every command:\n"
    "  0    success\n"
    "  1    failure: the command ran and failed, a package has problems (verify), or a\n"
    "       word has no entry (lookup)\n"
    "  2    usage error: an unknown command or option, a missing argument, a bad value\n"
    "  130  interrupted (Ctrl+C): what the command had begun is undone\n"
    "  143  stopped by a termination request (SIGTERM), as for Ctrl+C\n"
    "\n"
    "Example: ldic convert words.txt --author Me --version 1.0 && ldic info words.ldic";

// CLI11's layout with the names a user reads here: a value option shows the name of its
// value (set as its option text) and an argument only its own name.
class CLdicFormatter : public CLI::Formatter {
 public:
  CLdicFormatter() {
    column_width(26);
    label("Positionals", "Arguments");
    label("SUBCOMMAND", "COMMAND");
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_positional()) return {};
    return CLI::Formatter::make_option_opts(option);
  }
};

// The command a parse error belongs to: the subcommand that was being read, if any.
std::string CommandOf(CLI::App& ldic) {
  const std::vector<CLI::App*> parsed = ldic.get_subcommands();
  return parsed.empty() ? std::string() : parsed.front()->get_name();
}

}  // namespace

CLI::App& NewCommand(CLI::App& ldic, const std::string& name, const std::string& description,
                     const std::string& footer) {
  CLI::App& command = *ldic.add_subcommand(name, description);
  command.group("Commands");
  command.footer(footer);
  command.add_flag_callback("-q,--quiet", [] { SetQuiet(true); },
                            "print nothing on success; failures are still reported");
  return command;
}

int RunLdic(std::vector<std::string> args) {
  SetQuiet(false);
  // Ctrl+C and termination requests end ldic at once, with 130 or 143, except while a
  // command holds them off to undo what it has begun (convert takes them over to cancel
  // its run).
  platform::SetInterruptHandler(nullptr, true);
  const std::vector<std::string> given = args;

  CLI::App ldic(kDescription, "ldic");
  ldic.formatter(std::make_shared<CLdicFormatter>());
  ldic.footer(kFooter);
  ldic.set_help_flag("-h,--help", "print this help and exit");
  ldic.set_version_flag("--version", kVersionLine, "print ldic's version and exit");
  ldic.require_subcommand(0, 1);
  // Options start with '-' on every system: "/path" is an argument, also on Windows.
  ldic.allow_windows_style_options(false);

  std::vector<LdicCommand> commands = {
      AddConvertCommand(ldic), AddInfoCommand(ldic),   AddVerifyCommand(ldic),
      AddDumpCommand(ldic),    AddLookupCommand(ldic), AddExportCommand(ldic),
      AddRegisterCommand(ldic),
  };
  const auto HelpOf = [&](const CLI::App& app, const std::string& name) {
    return app.get_formatter()->make_help(&app, name, CLI::AppFormatMode::Normal);
  };

  std::string topic;
  CLI::App& help = *ldic.add_subcommand("help", "show this help, or the help of COMMAND");
  help.group("Commands");
  help.add_option("COMMAND", topic, "the command to explain");
  commands.push_back({&help, [&]() -> int {
                        if (topic.empty()) {
                          std::fputs(HelpOf(ldic, "ldic").c_str(), stdout);
                          return kExitSuccess;
                        }
                        for (const LdicCommand& command : commands) {
                          if (command.app->get_name() == topic && command.app != &help) {
                            std::fputs(HelpOf(*command.app, "ldic " + topic).c_str(), stdout);
                            return kExitSuccess;
                          }
                        }
                        return UsageError("", "unknown command '" + topic + "'");
                      }});
  CLI::App& version = *ldic.add_subcommand("version", "print ldic's version");
  version.group("Commands");
  commands.push_back({&version, [] {
                        std::printf("%s\n", kVersionLine);
                        return static_cast<int>(kExitSuccess);
                      }});

  try {
    std::reverse(args.begin(), args.end());  // CLI11 takes the arguments from the back
    ldic.parse(args);
  } catch (const CLI::CallForHelp&) {
    std::fputs(ldic.help().c_str(), stdout);
    return kExitSuccess;
  } catch (const CLI::CallForVersion&) {
    std::printf("%s\n", kVersionLine);
    return kExitSuccess;
  } catch (const CLI::ParseError& error) {
    const std::string command = CommandOf(ldic);
    if (command.empty() && dynamic_cast<const CLI::ExtrasError*>(&error) && !given.empty() &&
        given.front().rfind('-', 0) != 0)
      return UsageError("", "unknown command '" + given.front() + "'");
    return UsageError(command, error.what());
  }

  for (const LdicCommand& command : commands)
    if (command.app->parsed()) return command.run();
  // No command: what ldic can do, on stderr, as for any other wrong command line.
  std::fputs(HelpOf(ldic, "ldic").c_str(), stderr);
  return kExitUsage;
}
