#pragma once

#include <string>

#include "common/status.h"
#include "common/warning_sink.h"
// The ldic commands. Each takes its arguments in UTF-8, argv[0] being the command's
// name, and returns the process's exit status.

int RunConvertCommand(int argc, char** argv);
int RunRegisterCommand(int argc, char** argv);

// Prints "ldic: " and the message on stderr.
void PrintError(const char* utf8Message);

// Prints "ldic: " and the fixed message, then " — " and where and why it failed (the file
// and the system's reason) when the cause tells.
void PrintFailure(UserMessage message, const Status& cause = {});

// Tells the user of an outcome: "词库添加成功！..." on stdout, everything else through
// PrintFailure.
class CConsoleWarningSink : public IWarningSink {
 public:
  void ShowWarning(UserMessage message, const Status& cause) override;
};
