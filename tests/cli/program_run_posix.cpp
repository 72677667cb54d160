#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/utf.h"
#include "tests/cli/program_run.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace cli_test {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::optional<std::string>& input, const std::wstring& folder) {
  // A program that stops reading early must not end the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  const std::string outPath = WideToUtf8(folder) + "/program.out";
  const std::string errPath = WideToUtf8(folder) + "/program.err";
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[0]);
  if (spawned != 0) {
    close(pipeFds[1]);
    return {};
  }

  std::thread feeder([&] {
    if (input) {
      for (size_t at = 0; at < input->size();) {
        const ssize_t n = write(pipeFds[1], input->data() + at, input->size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
    }
    close(pipeFds[1]);
  });
  int status = 0;
  waitpid(child, &status, 0);
  feeder.join();
  ProgramResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = lumo_test::ReadBytes(Utf8ToWideText(outPath));
  result.err = lumo_test::ReadBytes(Utf8ToWideText(errPath));
  return result;
}

}  // namespace cli_test
