#pragma once
// ldic's commands run in the test's own process, their output captured: what a user sees
// of a command, without a process of its own (so that they run under Wine the same way).

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace cli_test {

struct Result {
  int status;
  std::string out;
  std::string err;
};

inline Result Ldic(const std::vector<std::string>& args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = -1;
  std::string thrown;
  try {
    status = RunLdic(args);
  } catch (const std::exception& e) {
    thrown = e.what();  // a failure of its own, after the output is let go
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(thrown, "") << "ldic threw";
  return {status, std::move(out), std::move(err)};
}

}  // namespace cli_test
