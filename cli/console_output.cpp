// How ldic tells the user of failures: one line on stderr, "ldic: " first.

#include <cstdio>
#include <string>

#include "cli/commands.h"

void PrintError(const char* utf8Message) { std::fprintf(stderr, "ldic: %s\n", utf8Message); }

void PrintFailure(UserMessage message, const Status& cause) {
  const std::string where = cause.Where();
  if (where.empty())
    std::fprintf(stderr, "ldic: %s\n", UserMessageUtf8(message));
  else
    std::fprintf(stderr, "ldic: %s \xE2\x80\x94 %s\n", UserMessageUtf8(message), where.c_str());
}

void CConsoleWarningSink::ShowWarning(UserMessage message, const Status& cause) {
  // The dialog shows every outcome in a message box; here success is the command's output.
  if (message == UserMessage::kRegistered)
    std::printf("%s\n", UserMessageUtf8(message));
  else
    PrintFailure(message, cause);
}
