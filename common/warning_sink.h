#pragma once
// Where a failure is told to the user: the dialog shows a message box with the caption
// "提示" and the warning icon, ldic prints a line on stderr.

#include "common/status.h"
#include "common/user_messages.h"

class IWarningSink {
 public:
  virtual ~IWarningSink() = default;
  // Shows the fixed message; cause, when it is a failure, tells the file and the system's
  // reason for a front end that can show them. Returns once the user has seen it.
  virtual void ShowWarning(UserMessage message, const Status& cause) = 0;
};
