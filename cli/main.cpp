// ldic: the command-line companion of the dialog, over the same core.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/utf.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  // Arguments as UTF-8 on every system, whatever the console's code page.
  const std::vector<std::wstring> wide = platform::CommandLineArguments(argc, argv);
  std::vector<std::string> args;
  for (size_t i = 1; i < wide.size(); ++i) args.push_back(WideToUtf8(wide[i]));
  return RunLdic(std::move(args));
}
