#pragma once
// How ldic speaks, the same for every command: results on stdout; every message about a
// failure or a wrong command line on stderr, after "ldic: "; and one rule for the exit
// status.

#include <cstdio>
#include <string>

#include "common/status.h"
#include "common/user_messages.h"
#include "common/warning_sink.h"

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // the command ran and failed, found problems or found nothing
  kExitUsage = 2,    // the command line was wrong, and nothing was done
  // Stopped by Ctrl+C (130) or a termination request (143), as shells number a program
  // ended by SIGINT or SIGTERM: platform::InterruptExitStatus.
  kExitInterrupted = 130,
  kExitTerminated = 143,
};

// "ldic: " and the message on stderr.
void PrintError(const std::string& utf8Message);

// A failure that has one of the program's fixed messages: "ldic: MESSAGE", followed by
// " — PATH: REASON" as far as the cause knows them.
void PrintFailure(UserMessage message, const Status& cause = {});
// The same for a failure told in English words, as the commands that read packages do.
void PrintFailure(const std::string& utf8What, const Status& cause);
// A file that could not be written: a full disk is told as such, in the dialog's words
// ("磁盘空间不足，..."); anything else as utf8What.
void PrintWriteFailure(const std::string& utf8What, const Status& cause);

// What is wrong with a command line.
enum class UsageProblem {
  kUnknownCommand,      // subject: the command
  kUnknownOption,       // subject: the option
  kUnexpectedArgument,  // subject: the argument
  kMissingArgument,     // subject: the argument's name (WORDLIST)
  kMissingOption,       // subject: an option the command cannot do without
  kMissingValue,        // subject: the option given without its value
  kBadValue,            // subject: the option; other: the value refused
  kRepeatedOption,      // subject: an option that takes one value, given twice
  kOptionNeeds,         // subject: the option; other: the option it needs
  kOptionExcludes,      // subject: the option; other: the option it cannot go with
  kOther,               // a command's own rule; detail says which
};

// A wrong command line, in the form of every other failure: the fault in Chinese with
// what it concerns, " — ", the same in English (detail, or the problem's own words), and
// where the help is: "ldic: 未知选项 --nosuch — unknown option; 运行 ldic help convert
// 查看用法". command is "" for ldic itself. Returns kExitUsage.
int UsageError(const std::string& command, UsageProblem problem, const std::string& subject,
               const std::string& detail = {}, const std::string& other = {});
// A command's own rule about its arguments, told in English: kOther.
int UsageError(const std::string& command, const std::string& message);

// Tells the user of an outcome on the console, as the dialog does with a message box:
// "词库添加成功！..." is a command's output (results: stdout unless the command's output
// goes there; not with -q), every other message a failure line. settings names LumoDict's
// settings file in a failure to write it.
class CConsoleWarningSink : public IWarningSink {
 public:
  explicit CConsoleWarningSink(std::wstring settings = {}, std::FILE* results = stdout)
      : m_settings(std::move(settings)), m_results(results) {}
  void ShowWarning(UserMessage message, const Status& cause) override;
  // The failure line ShowWarning prints for message, without "ldic: ": the message (a
  // full disk told as such), " — " and the path and the system's reason where known.
  static std::string FailureText(UserMessage message, const Status& cause,
                                 const std::wstring& settings);

 private:
  const std::wstring m_settings;
  std::FILE* const m_results;
};

// -q: a command prints nothing when it succeeds. Failures are still printed.
void SetQuiet(bool quiet);
bool IsQuiet();
