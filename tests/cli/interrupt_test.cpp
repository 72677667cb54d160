// Ctrl+C (SIGINT) and termination requests (SIGTERM) while a command writes: every
// writing command stops with 130 or 143, as shells number the two signals, leaves what it
// was replacing as it was and nothing temporary behind. With real signals, natively.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "platform/file_lock.h"
#include "tests/package/reader_fixtures.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

using lumo_test::FileExists;
using lumo_test::TempDir;

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(LDIC_PROGRAM)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  return posix_spawn(&child, LDIC_PROGRAM, nullptr, nullptr, argv.data(), environ) == 0 ? child : -1;
}

// Whether the process has the file open (it waits for the lock on it, say).
bool HasOpen(pid_t pid, const std::string& path) {
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (std::filesystem::read_symlink(fd.path(), ec) == path) return true;
  return false;
}

// Names that only a run's own temporary files and folders have.
bool IsTemporary(const std::string& name) {
  return name.find("LumoDictTemp") != std::string::npos || name.find(".part") != std::string::npos ||
         name.find(".lumo-new") != std::string::npos;
}

TEST(LdicInterrupt, EveryWritingCommandStopsCleanly) {
  TempDir dir;
  std::string list;
  for (long long i = 0; i < 300000; ++i)
    list += "word" + std::to_string(i * 7919 % 300007) + "\tan explanation of some length, number " +
            std::to_string(i) + "\n";
  lumo_test::WriteBytes(dir.File(L"w.txt"), list);
  lumo_test::WriteBytes(dir.File(L"w2.txt"), list);
  lumo_test::WriteBytes(dir.File(L"w3.txt"), list);
  const std::string pkg = WideToUtf8(reader_test::MakePackage(dir, list, reader_test::kFacts, L"big.ldic"));
  const std::string input = WideToUtf8(dir.File(L"w.txt"));

  struct Case {
    const char* label;
    std::vector<std::string> args;  // {out}: the folder the command writes into
    std::map<std::string, std::string> earlier;  // files there before, to be kept as they were
    // When to send the signal; reader is the test's end of the pipe, when there is one.
    std::function<bool(const std::string& out, pid_t child, int reader)> begun;
  };
  const auto exists = [](const std::string& name) {
    return [name](const std::string& out, pid_t, int) { return std::filesystem::exists(out + "/" + name); };
  };
  const Case cases[] = {
      {"convert", {"convert", input, "-o", "{out}/w.ldic", "--threads", "1"}, {{"w.ldic", "earlier"}},
       exists("LumoDictTemp.des")},
      // Two of three lists at once: both stop, the third never starts.
      {"convert several", {"convert", input, input.substr(0, input.size() - 4) + "2.txt",
                           input.substr(0, input.size() - 4) + "3.txt", "--out-dir", "{out}", "--jobs", "2",
                           "--threads", "1"},
       {{"w.ldic", "earlier"}}, exists("LumoDictTemp.des")},
      {"dump", {"dump", pkg, "-o", "{out}/w.txt"}, {{"w.txt", "earlier"}}, exists("w.txt.part")},
      {"export", {"export", pkg, "--stardict", "{out}/sd"},
       {{"sd/big.ifo", "earlier"}, {"sd/big.idx", "earlier"}, {"sd/big.dict.dz", "earlier"}},
       exists("sd.lumo-new")},
      // Waiting for the settings file's lock, which the test holds.
      {"register", {"register", pkg, "--ini", "{out}/LumoDict.ini"}, {{"LumoDict.ini", "[Main]\r\n"}},
       [](const std::string& out, pid_t child, int) { return HasOpen(child, out + "/LumoDict.ini.lock"); }},
      // Writing into a pipe that nobody reads from: blocked until the signal comes.
      {"dump into a full pipe", {"dump", pkg, "-o", "{out}/fifo"}, {},
       [](const std::string&, pid_t, int reader) {
         int queued = 0;
         return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= 65536;
       }},
  };
  for (const int signal : {SIGINT, SIGTERM}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.label) + (signal == SIGINT ? ", SIGINT" : ", SIGTERM"));
      TempDir outDir;
      const std::string out = WideToUtf8(outDir.Path());
      for (const auto& [name, bytes] : c.earlier) {
        std::filesystem::create_directories(std::filesystem::path(out + "/" + name).parent_path());
        lumo_test::WriteBytes(Utf8ToWideText(out + "/" + name), bytes);
      }
      int reader = -1;
      if (std::string(c.label).find("pipe") != std::string::npos) {
        ASSERT_EQ(::mkfifo((out + "/fifo").c_str(), 0600), 0);
        reader = ::open((out + "/fifo").c_str(), O_RDONLY | O_NONBLOCK);  // lets the writer open it
      }
      platform::CFileLock held;
      if (c.earlier.contains("LumoDict.ini")) {
        ASSERT_TRUE(held.Lock(Utf8ToWideText(out + "/LumoDict.ini")));
      }
      std::vector<std::string> args;
      for (std::string arg : c.args) {
        if (arg.starts_with("{out}")) arg = out + arg.substr(5);
        args.push_back(arg);
      }
      const pid_t child = Spawn(args);
      ASSERT_GT(child, 0);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      bool ready = false;
      while (!(ready = c.begun(out, child, reader)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(ready) << "the command never began to write";
      ASSERT_EQ(kill(child, signal), 0);
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      if (reader >= 0) ::close(reader);
      ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
      EXPECT_EQ(WEXITSTATUS(status), signal == SIGINT ? 130 : 143);

      for (const auto& [name, bytes] : c.earlier)
        EXPECT_EQ(lumo_test::ReadBytes(Utf8ToWideText(out + "/" + name)), bytes) << name;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(IsTemporary(name)) << name;
        EXPECT_TRUE(name == "fifo" || name == "sd" || name == "LumoDict.ini.lock" ||
                    c.earlier.contains(entry.path().lexically_relative(out).string()))
            << name;
      }
      if (reader >= 0) {
        struct stat st {};
        EXPECT_TRUE(::stat((out + "/fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
      }
    }
  }
}

// A package read from a pipe whose writer stays silent: the copy of standard input is
// removed and the exit status is that of the request, although the read never returns.
TEST(LdicInterrupt, ACopyOfStandardInputIsRemoved) {
  TempDir temp;
  const std::string folder = WideToUtf8(temp.Path());
  const char* const earlier = std::getenv("TMPDIR");
  const std::string kept = earlier ? earlier : "";
  ::setenv("TMPDIR", folder.c_str(), 1);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    std::vector<char*> argv{const_cast<char*>(LDIC_PROGRAM), const_cast<char*>("info"),
                            const_cast<char*>("-"), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, LDIC_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ASSERT_EQ(::write(input[1], "LDIC", 4), 4);  // the start of something, and then nothing
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!FileExists(Utf8ToWideText(folder + "/ldic-stdin.ldic")) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(FileExists(Utf8ToWideText(folder + "/ldic-stdin.ldic"))) << "no copy was made";
    ASSERT_EQ(kill(child, signal), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ::close(input[1]);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), signal == SIGINT ? 130 : 143);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
  if (earlier)
    ::setenv("TMPDIR", kept.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

}  // namespace
