#include "cli/cli_output.h"

#include <cstdio>
#include <iterator>
#include <utility>

namespace {

bool g_quiet = false;

void PrintWithCause(const std::string& what, const Status& cause) {
  const std::string where = cause.Where();
  PrintError(where.empty() ? what : what + " \u2014 " + where);
}

}  // namespace

void PrintError(const std::string& utf8Message) {
  std::fprintf(stderr, "ldic: %s\n", utf8Message.c_str());
  std::fflush(stderr);
}

void PrintFailure(UserMessage message, const Status& cause) {
  PrintWithCause(UserMessageUtf8(message), cause);
}

void PrintFailure(const std::string& utf8What, const Status& cause) {
  PrintWithCause(utf8What, cause);
}

void PrintWriteFailure(const std::string& utf8What, const Status& cause) {
  if (cause.DiskFull())
    PrintFailure(UserMessage::kDiskFull, cause);
  else
    PrintFailure(utf8What, cause);
}

int UsageError(const std::string& command, UsageProblem problem, const std::string& subject,
               const std::string& detail, const std::string& other) {
  // {0} is the subject, {1} the other.
  struct Wording {
    UsageProblem problem;
    const char* chinese;
    const char* english;
  };
  static constexpr Wording kWordings[] = {
      {UsageProblem::kUnknownCommand, "未知命令 {0}", "unknown command"},
      {UsageProblem::kUnknownOption, "未知选项 {0}", "unknown option"},
      {UsageProblem::kUnexpectedArgument, "多余的参数 {0}", "unexpected argument"},
      {UsageProblem::kMissingArgument, "缺少参数 {0}", "missing argument"},
      {UsageProblem::kMissingOption, "缺少选项 {0}", "missing option"},
      {UsageProblem::kMissingValue, "选项 {0} 缺少值", "missing value"},
      {UsageProblem::kBadValue, "选项 {0} 的值 {1} 无效", "invalid value"},
      {UsageProblem::kRepeatedOption, "选项 {0} 只能给出一次", "given more than once"},
      {UsageProblem::kOptionNeeds, "选项 {0} 须与 {1} 一起使用", "{0} needs {1}"},
      {UsageProblem::kOptionExcludes, "选项 {0} 不能与 {1} 一起使用", "{0} cannot go with {1}"},
      {UsageProblem::kOther, "用法错误", ""},
  };
  const auto fill = [&](std::string text) {
    for (const auto& [key, value] : {std::pair{"{0}", subject}, {"{1}", other.empty() ? "\"\"" : other}})
      if (const size_t at = text.find(key); at != std::string::npos) text.replace(at, 3, value);
    return text;
  };
  const Wording* wording = &kWordings[std::size(kWordings) - 1];
  for (const Wording& candidate : kWordings)
    if (candidate.problem == problem) wording = &candidate;
  const std::string help = command.empty() ? "ldic help" : "ldic help " + command;
  PrintError(fill(wording->chinese) + " \u2014 " + (detail.empty() ? fill(wording->english) : detail) +
             "; 运行 " + help + " 查看用法");
  return kExitUsage;
}

int UsageError(const std::string& command, const std::string& message) {
  return UsageError(command, UsageProblem::kOther, {}, message);
}

std::string CConsoleWarningSink::FailureText(UserMessage message, const Status& cause,
                                             const std::wstring& settings) {
  if (cause.DiskFull()) message = UserMessage::kDiskFull;
  const Status where = message == UserMessage::kRegisterWriteFailed && cause.ok()
                           ? Status::Error(StatusKind::kIoError, settings)
                           : cause;
  const std::string what = UserMessageUtf8(message);
  return where.Where().empty() ? what : what + " \u2014 " + where.Where();
}

void CConsoleWarningSink::ShowWarning(UserMessage message, const Status& cause) {
  if (message == UserMessage::kRegistered) {
    if (!IsQuiet()) {
      std::fprintf(m_results, "%s\n", UserMessageUtf8(message));
      std::fflush(m_results);
    }
  } else {
    PrintError(FailureText(message, cause, m_settings));
  }
}

void SetQuiet(bool quiet) { g_quiet = quiet; }
bool IsQuiet() { return g_quiet; }
