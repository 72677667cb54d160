#include "cli/cli_output.h"

#include <cstdio>

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

int UsageError(const std::string& command, const std::string& message) {
  const std::string help = command.empty() ? "ldic --help" : "ldic " + command + " --help";
  PrintError(message + " (see '" + help + "')");
  return kExitUsage;
}

void CConsoleWarningSink::ShowWarning(UserMessage message, const Status& cause) {
  if (message == UserMessage::kRegistered) {
    if (!IsQuiet()) std::printf("%s\n", UserMessageUtf8(message));
  } else if (cause.DiskFull()) {
    PrintFailure(UserMessage::kDiskFull, cause);
  } else if (message == UserMessage::kRegisterWriteFailed && cause.ok()) {
    PrintFailure(message, Status::Error(StatusKind::kIoError, m_settings));
  } else {
    PrintFailure(message, cause);
  }
}

void SetQuiet(bool quiet) { g_quiet = quiet; }
bool IsQuiet() { return g_quiet; }
