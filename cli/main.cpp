// ldic: the command-line companion of the dialog, over the same core.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/reader_commands.h"
#include "common/utf.h"
#include "platform/console.h"

namespace {

constexpr char kUsage[] =
    "usage: ldic COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  convert WORDLIST [-o PACKAGE] [--name N] [--author A] [--lumo L]\n"
    "          [--version V] [--date D] [--threads N] [--register [--ini SETTINGS]]\n"
    "      Converts a word list (TXT or CSV: headword, TAB or comma, explanation; UTF-8,\n"
    "      UTF-16 or the ANSI code page) into a .ldic package, as the dialog does.\n"
    "      PACKAGE defaults to the word list's path with the extension .ldic, the name\n"
    "      to the word list's base name, the date to today in the long date format.\n"
    "      Example: ldic convert words.txt --author Me --version 1.0\n"
    "  register PACKAGE [--ini SETTINGS]\n"
    "      Adds a package to LumoDict's list of dictionaries (its LumoDict.ini, or\n"
    "      SETTINGS), refusing one that is already listed.\n"
    "      Example: ldic register words.ldic\n"
    "%s\n"
    "Run 'ldic COMMAND --help' for the options of one command.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"convert", RunConvertCommand}, {"info", RunInfoCommand},     {"verify", RunVerifyCommand},
    {"dump", RunDumpCommand},       {"lookup", RunLookupCommand}, {"export", RunExportCommand},
    {"register", RunRegisterCommand},
};

}  // namespace



int main(int argc, char** argv) {
  // Arguments as UTF-8 on every system, whatever the console's code page.
  const std::vector<std::wstring> wide = platform::CommandLineArguments(argc, argv);
  std::vector<std::string> utf8;
  for (const std::wstring& arg : wide) utf8.push_back(WideToUtf8(arg));
  std::vector<char*> args;
  for (std::string& arg : utf8) args.push_back(arg.data());
  args.push_back(nullptr);
  const int count = static_cast<int>(utf8.size());

  if (count < 2 || std::strcmp(args[1], "--help") == 0 || std::strcmp(args[1], "-h") == 0 ||
      std::strcmp(args[1], "help") == 0) {
    // The reader commands' help is text, not a format: substitute it by hand.
    const std::string usage(kUsage);
    const size_t at = usage.find("%s");
    FILE* out = count < 2 ? stderr : stdout;
    std::fputs(usage.substr(0, at).c_str(), out);
    std::fputs(kReaderCommandsHelp, out);
    std::fputs(usage.substr(at + 2).c_str(), out);
    return count < 2 ? 2 : 0;
  }
  for (const Command& command : kCommands)
    if (std::strcmp(args[1], command.name) == 0) return command.run(count - 1, args.data() + 1);
  PrintError((std::string("unknown command '") + args[1] + "' (see ldic --help)").c_str());
  return 2;
}
