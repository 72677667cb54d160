// Inputs no word list should be, and limits the system sets: ldic says what went wrong
// within seconds and leaves nothing behind, and a pipe carrying a word list converts as
// the file does. Natively, through a shell, as a user would meet them.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/utf.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::ReadBytes;
using lumo_test::TempDir;

struct HostileCase {
  const char* label;
  // Run by bash in the test's folder, with $LDIC the program and w.txt a word list;
  // it converts into p.ldic.
  const char* script;
  int expectedStatus;
  const char* expectedMessage;  // in stderr; empty: none expected
  bool sanitizerFree;           // needs a build without the address sanitizer
};

int RunScript(const TempDir& dir, const std::string& script) {
  const std::string folder = WideToUtf8(dir.Path());
  const std::string command = "cd '" + folder + "' && LDIC='" LDIC_PROGRAM "' timeout -s KILL 60 bash -c '" +
                              script + "' >out.txt 2>err.txt";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LdicHostileInput, ClearMessageNothingLeftBehind) {
  const HostileCase cases[] = {
      {"endless device", "$LDIC convert /dev/zero -o p.ldic", 1, "无法打开导入文件", false},
      {"folder", "mkdir d && $LDIC convert d -o p.ldic", 1, "无法打开导入文件", false},
      {"pipe", "mkfifo f && (cat w.txt >f &) && $LDIC convert f -o p.ldic --date D -q", 0, "", false},
      // An endless pipe: the encoding is decided after a bounded look, and the termination
      // request is honoured while the never-ending line is read.
      {"endless pipe, then terminated",
       "mkfifo f && (yes x | tr -d \"\\n\" >f 2>/dev/null &) && { $LDIC convert f -o p.ldic & pid=$!; "
       "sleep 2; kill -TERM $pid; wait $pid; }",
       143, "转换取消", false},
      // An endless pipe of NULs is no text: refused once its start has been looked at.
      {"endless pipe of NULs", "mkfifo f && (cat /dev/zero >f 2>/dev/null &) && $LDIC convert f -o p.ldic",
       1, "导入文件不是文本文件", false},
      {"file size limit", "ulimit -f 16 && $LDIC convert w.txt -o p.ldic", 1, "File too large", false},
      {"memory limit", "ulimit -v 170000 && $LDIC convert big.txt -o p.ldic --threads 2", 1,
       "词库过大", true},
      // Special files as every output: a device, a pipe, a socket or a link to one is never
      // replaced. convert refuses it before any work; dump and --report write into it as a
      // stream; export wants a folder. Each script checks that the file is what it was.
      // (Links to /dev/null: Ldic.ADeviceIsWrittenIntoAndNeverReplaced.)
      {"convert -o a pipe", "mkfifo o && { $LDIC convert w.txt -o o; s=$?; test -p o && exit $s; }", 1,
       "保存路径不是普通文件，请选择其他保存位置。 — ", false},
      {"convert --report into a pipe",
       "mkfifo r && { cat r >r.txt & $LDIC convert w.txt -o q.ldic -q --report r; s=$?; wait; "
       "test -p r && head -c 16 r.txt | grep -q \"^line.reason.text\" && exit $s; }", 0, "", false},
      {"dump -o a pipe",
       "$LDIC convert w.txt -o q.ldic -q --date D && mkfifo f && { cat f >d.txt & $LDIC dump q.ldic -o f; "
       "s=$?; wait; test -p f && $LDIC dump q.ldic | cmp -s - d.txt && exit $s; }", 0, "", false},
      {"dump -o a link to /proc/self/fd/1",
       "$LDIC convert w.txt -o q.ldic -q --date D && ln -s /proc/self/fd/1 o && "
       "{ $LDIC dump q.ldic -o o >d.txt; s=$?; test -L o && $LDIC dump q.ldic | cmp -s - d.txt && exit $s; }",
       0, "", false},
      {"dump -o /dev/stdout",
       "$LDIC convert w.txt -o q.ldic -q --date D && { $LDIC dump q.ldic -o /dev/stdout | wc -l | grep -qx 20000; }",
       0, "", false},
      {"export --stardict a pipe",
       "$LDIC convert w.txt -o q.ldic -q --date D && mkfifo d && { $LDIC export q.ldic --stardict d; s=$?; "
       "test -p d && exit $s; }", 1, "d: not a folder", false},
      {"export --stardict a file",
       "$LDIC convert w.txt -o q.ldic -q --date D && echo mine >d && { $LDIC export q.ldic --stardict d; "
       "s=$?; grep -qx mine d && exit $s; }", 1, "d: not a folder", false},
  };
  std::string list;
  for (int i = 0; i < 20000; ++i)
    list += "word" + std::to_string(i) + "\tthe explanation of word number " + std::to_string(i) + "\n";

  for (const HostileCase& c : cases) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves more address space than any such limit allows.
    if (c.sanitizerFree) continue;
#endif
    TempDir dir;
    lumo_test::WriteBytes(dir.File(L"w.txt"), list);
    if (c.sanitizerFree) {
      std::string big;
      while (big.size() < (100u << 20)) big += list;
      lumo_test::WriteBytes(dir.File(L"big.txt"), big);
    }
    EXPECT_EQ(RunScript(dir, c.script), c.expectedStatus) << c.label << "\n" << ReadBytes(dir.File(L"err.txt"));
    EXPECT_NE(ReadBytes(dir.File(L"err.txt")).find(c.expectedMessage), std::string::npos)
        << c.label << ": " << ReadBytes(dir.File(L"err.txt"));
    // Nothing of the run's own is left: no temporary file, and a package only on success.
    for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find("LumoDictTemp"), std::string::npos) << c.label << ": " << name;
      EXPECT_EQ(name.find(".part"), std::string::npos) << c.label << ": " << name;
      if (name == "p.ldic") {
        EXPECT_EQ(c.expectedStatus, 0) << c.label;
      }
    }
  }

  // The pipe's package is the file's, byte for byte.
  TempDir dir;
  lumo_test::WriteBytes(dir.File(L"w.txt"), list);
  ASSERT_EQ(RunScript(dir, "mkfifo f && (cat w.txt >f &) && $LDIC convert f -o a.ldic --name N --date D -q && "
                           "$LDIC convert w.txt -o b.ldic --name N --date D -q"), 0);
  EXPECT_TRUE(ReadBytes(dir.File(L"a.ldic")) == ReadBytes(dir.File(L"b.ldic")));
}

}  // namespace
