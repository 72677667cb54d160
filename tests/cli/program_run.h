#pragma once
// Runs a program as a user would, for the tests of ldic: its exit status and everything it
// wrote, with an optional standard input fed through a pipe.

#include <optional>
#include <string>
#include <vector>

namespace cli_test {

struct ProgramResult {
  int status = -1;  // the exit status; -1 when the program could not be started
  std::string out;
  std::string err;
};

// Runs program with args (UTF-8). input, when given, is written into a pipe that is the
// program's standard input; otherwise its standard input is at its end at once. stdout
// and stderr go through files in folder, so that neither can fill up and block.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::optional<std::string>& input, const std::wstring& folder);

}  // namespace cli_test
