// ldic's command line: one parser for every command, its help, its version, and how a
// wrong command line is reported.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
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

// The command being read when the parse stopped, if any.
CLI::App* ParsedCommand(CLI::App& ldic) {
  const std::vector<CLI::App*> parsed = ldic.get_subcommands();
  return parsed.empty() ? nullptr : parsed.front();
}

std::string NameOf(const CLI::App* command) {
  return command ? command->get_name() : std::string();
}

// Where name stands in text as a word of its own (CLI11 names an option in its messages
// by its name, followed by ':', ' ' or '='), from position from; npos if nowhere.
size_t FindName(const std::string& text, const std::string& name, size_t from = 0) {
  for (size_t at = text.find(name, from); at != std::string::npos; at = text.find(name, at + 1)) {
    const size_t end = at + name.size();
    const bool starts = at == 0 || text[at - 1] == ' ' || text[at - 1] == '(';
    const bool ends = end == text.size() || std::string_view(": =)").find(text[end]) != std::string::npos;
    if (starts && ends) return at;
  }
  return std::string::npos;
}

// The option or argument of command (or of ldic itself) that text names first after
// position from; its place in *at.
CLI::Option* OptionNamedIn(CLI::App& ldic, CLI::App* command, const std::string& text,
                           size_t from = 0, size_t* at = nullptr) {
  CLI::Option* found = nullptr;
  size_t first = std::string::npos;
  for (CLI::App* app : {command, &ldic}) {
    if (!app) continue;
    for (const CLI::Option* option : app->get_options()) {
      const size_t where = FindName(text, option->get_name(), from);
      if (where < first) {
        first = where;
        found = app->get_option_no_throw(option->get_name());
      }
    }
  }
  if (at) *at = first;
  return found;
}

// What a validator's description promises, in words: "{a,b}" is a choice, "INT in [1 -
// 256]" a range, "(X) OR (Y)" either; anything else is the validator's own name for it.
std::string Expected(const std::string& description) {
  if (const size_t or_at = description.find(") OR ("); description.starts_with('(') &&
                                                       description.ends_with(')') &&
                                                       or_at != std::string::npos)
    return Expected(description.substr(1, or_at - 1)) + " or " +
           Expected(description.substr(or_at + 6, description.size() - or_at - 7));
  if (description.starts_with('{') && description.ends_with('}')) {
    std::string choices = description.substr(1, description.size() - 2);
    for (size_t comma = choices.find(','); comma != std::string::npos;
         comma = choices.find(',', comma + 2))
      choices.replace(comma, 1, ", ");
    return "one of " + choices;
  }
  if (const size_t range = description.find(" in ["); range != std::string::npos &&
                                                      description.ends_with(']')) {
    std::string bounds = description.substr(range + 5, description.size() - range - 6);
    if (const size_t dash = bounds.find(" - "); dash != std::string::npos)
      bounds.replace(dash, 3, " to ");
    const bool whole = description.starts_with("INT") || description.starts_with("UINT");
    return std::string(whole ? "a whole number" : "a number") + " from " + bounds;
  }
  return description;
}

bool IsWholeNumber(const std::string& text) {
  const size_t digits = text.starts_with('-') ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// A value an option's validators refuse: which of the given values it is and why, in
// ldic's words.
int BadValue(const std::string& command, CLI::Option& option) {
  for (const std::string& given : option.results()) {
    for (int index = 0;; ++index) {
      const CLI::Validator* validator = nullptr;
      try {
        validator = option.get_validator(index);
      } catch (const CLI::OptionNotFound&) {
        break;
      }
      std::string value = given;
      const std::string refusal = (*validator)(value);
      if (refusal.empty()) continue;
      const std::string description = validator->get_description();
      std::string detail;
      if (description.starts_with('(')) {  // either of two checks
        detail = "expected " + Expected(description);
      } else if (description.starts_with('{')) {
        detail = "not " + Expected(description);
      } else if (const std::string range = Expected(description); range != description) {
        detail = std::string(IsWholeNumber(given) ? "out of range" : "not a number") +
                 "; expected " + range;
      } else {  // a check of the command's own: its own words
        detail = refusal;
      }
      return UsageError(command, UsageProblem::kBadValue, option.get_name(), detail, given);
    }
  }
  return UsageError(command, UsageProblem::kBadValue, option.get_name(), {},
                    option.results().empty() ? std::string() : option.results().back());
}

// A command line CLI11 refused, told the way ldic tells every usage error: what is wrong,
// naming the option, argument or command, and where the help is. CLI11's error classes
// say what kind of fault it is; the parser's own state says which option, argument or
// command it concerns.
int ReportParseError(CLI::App& ldic, const CLI::ParseError& error) {
  CLI::App* const command = ParsedCommand(ldic);
  const std::string name = NameOf(command);
  const std::string what = error.what();

  if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
    // Left over by ldic itself (before any command) or by the command.
    CLI::App* owner = nullptr;
    std::string extra;
    for (CLI::App* app : {&ldic, command}) {
      if (!app || !extra.empty()) continue;
      for (const std::string& arg : app->remaining(false)) {
        if (arg == "--") continue;
        extra = arg;
        owner = app;
        break;
      }
    }
    const std::string where = owner == &ldic ? std::string() : name;
    if (extra.size() > 1 && extra.front() == '-')
      return UsageError(where, UsageProblem::kUnknownOption, extra.substr(0, extra.find('=')));
    if (owner == &ldic)
      return UsageError("", UsageProblem::kUnknownCommand, extra);
    return UsageError(where, UsageProblem::kUnexpectedArgument, extra);
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    // CLI11 checks the required ones in the order they were added, as here.
    for (CLI::App* app : {command, &ldic}) {
      if (!app) continue;
      for (const CLI::Option* option : app->get_options()) {
        if (!option->get_required() || option->count() > 0) continue;
        return UsageError(name,
                          option->get_positional() ? UsageProblem::kMissingArgument
                                                   : UsageProblem::kMissingOption,
                          option->get_name());
      }
    }
  }
  size_t at = std::string::npos;
  CLI::Option* option = OptionNamedIn(ldic, command, what, 0, &at);
  if (option && dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
    // Given twice where one value is all it takes, or given without its value.
    if (option->count() > 1) return UsageError(name, UsageProblem::kRepeatedOption, option->get_name());
    const std::string value = option->get_option_text().empty() ? "VALUE" : option->get_option_text();
    return UsageError(name, UsageProblem::kMissingValue, option->get_name(),
                      "missing value; give it as " + option->get_name() + " " + value + " or " +
                          option->get_name() + "=" + value);
  }
  if (option && dynamic_cast<const CLI::ValidationError*>(&error)) return BadValue(name, *option);
  if (option && dynamic_cast<const CLI::ConversionError*>(&error)) {
    const bool isSwitch = option->get_expected_max() == 0;
    return UsageError(name, UsageProblem::kBadValue, option->get_name(),
                      isSwitch ? "a switch takes no value, or true or false"
                               : "cannot be read as " + option->get_type_name(),
                      option->results().empty() ? std::string() : option->results().back());
  }
  const bool needs = dynamic_cast<const CLI::RequiresError*>(&error) != nullptr;
  if (option && (needs || dynamic_cast<const CLI::ExcludesError*>(&error))) {
    if (const CLI::Option* other = OptionNamedIn(ldic, command, what, at + 1))
      return UsageError(name, needs ? UsageProblem::kOptionNeeds : UsageProblem::kOptionExcludes,
                        option->get_name(), {}, other->get_name());
  }
  return UsageError(name, what);
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

namespace {

// ldic's parser with every command on it, and what runs each.
class CLdicParser {
 public:
  CLdicParser() : m_ldic(kDescription, "ldic") {
    m_ldic.formatter(std::make_shared<CLdicFormatter>());
    m_ldic.footer(kFooter);
    m_ldic.set_help_flag("-h,--help", "print this help and exit");
    m_ldic.set_version_flag("--version", kVersionLine, "print ldic's version and exit");
    m_ldic.require_subcommand(0, 1);
    // Options start with '-' on every system: "/path" is an argument, also on Windows.
    m_ldic.allow_windows_style_options(false);

    m_commands = {
        AddConvertCommand(m_ldic), AddInfoCommand(m_ldic),   AddVerifyCommand(m_ldic),
        AddDumpCommand(m_ldic),    AddLookupCommand(m_ldic), AddExportCommand(m_ldic),
        AddRegisterCommand(m_ldic),
    };
    CLI::App& help = *m_ldic.add_subcommand("help", "show this help, or the help of COMMAND");
    help.group("Commands");
    help.add_option("COMMAND", m_topic, "the command to explain");
    m_commands.push_back({&help, [this, &help]() -> int {
                            if (m_topic.empty()) {
                              std::fputs(HelpOf(m_ldic, "ldic").c_str(), stdout);
                              return kExitSuccess;
                            }
                            for (const LdicCommand& command : m_commands) {
                              if (command.app->get_name() == m_topic && command.app != &help) {
                                std::fputs(HelpOf(*command.app, "ldic " + m_topic).c_str(), stdout);
                                return kExitSuccess;
                              }
                            }
                            return UsageError("", UsageProblem::kUnknownCommand, m_topic);
                          }});
    CLI::App& version = *m_ldic.add_subcommand("version", "print ldic's version");
    version.group("Commands");
    m_commands.push_back({&version, [] {
                            std::printf("%s\n", kVersionLine);
                            return static_cast<int>(kExitSuccess);
                          }});
  }
  CLdicParser(const CLdicParser&) = delete;
  CLdicParser& operator=(const CLdicParser&) = delete;

  CLI::App& Ldic() { return m_ldic; }
  const std::vector<LdicCommand>& Commands() const { return m_commands; }

  static std::string HelpOf(const CLI::App& app, const std::string& name) {
    return app.get_formatter()->make_help(&app, name, CLI::AppFormatMode::Normal);
  }

 private:
  CLI::App m_ldic;
  std::vector<LdicCommand> m_commands;
  std::string m_topic;
};

// What the syntax of app holds: its options as typed and its arguments' names.
CommandSyntax SyntaxOf(const CLI::App& app, const std::string& name) {
  CommandSyntax syntax{name, {}, {}};
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_positional()) syntax.arguments.push_back(option->get_name());
    for (const std::string& letter : option->get_snames()) syntax.options.push_back("-" + letter);
    for (const std::string& word : option->get_lnames()) syntax.options.push_back("--" + word);
  }
  return syntax;
}

}  // namespace

std::vector<CommandSyntax> DescribeLdicCommands() {
  CLdicParser parser;
  std::vector<CommandSyntax> syntax = {SyntaxOf(parser.Ldic(), "")};
  for (const LdicCommand& command : parser.Commands())
    syntax.push_back(SyntaxOf(*command.app, command.app->get_name()));
  return syntax;
}

int RunLdic(std::vector<std::string> args) {
  SetQuiet(false);
  // Ctrl+C and termination requests end ldic at once, with 130 or 143, except while a
  // command holds them off to undo what it has begun (convert takes them over to cancel
  // its run).
  platform::SetInterruptHandler(nullptr, true);
  CLdicParser parser;
  CLI::App& ldic = parser.Ldic();
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
    return ReportParseError(ldic, error);
  }

  for (const LdicCommand& command : parser.Commands())
    if (command.app->parsed()) return command.run();
  // No command: what ldic can do, on stderr, as for any other wrong command line.
  std::fputs(CLdicParser::HelpOf(ldic, "ldic").c_str(), stderr);
  return kExitUsage;
}
