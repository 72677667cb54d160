// The real ldic program, run as a user runs it: its help and version, the exit status and
// the messages of every command, -q, --option=VALUE, --, and '-' for standard input and
// output. Natively and, as ldic.exe, under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/user_messages.h"
#include "common/utf.h"
#include "tests/cli/program_run.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using cli_test::ProgramResult;
using lumo_test::TempDir;

constexpr char kList[] = "apple\tred fruit\nbee\tinsect\n-dash\tminus\n";
// As dump writes it: index order, where '-' sorts before the letters.
constexpr char kDump[] = "-dash\tminus\napple\tred fruit\nbee\tinsect\n";

ProgramResult Ldic(const TempDir& dir, const std::vector<std::string>& args,
                   const std::optional<std::string>& input = std::nullopt) {
  return cli_test::RunProgram(LDIC_PROGRAM, args, input, dir.Path());
}

// Replaces every "{name}" of text with its value.
std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    const std::string key = "{" + name + "}";
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size()))
      text.replace(at, key.size(), value);
  }
  return text;
}

// A file of the build machine, such as the program under test, read where the test runs
// (under Wine, drive Z: is the machine's root).
std::string MachineFile(const std::string& path) {
  std::wstring wide = Utf8ToWideText(path);
#ifdef _WIN32
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  wide = L"Z:" + wide;
#endif
  return lumo_test::ReadBytes(wide);
}

std::string Describe(const std::vector<std::string>& args, const ProgramResult& r) {
  std::string line = "ldic";
  for (const std::string& arg : args) line += " " + arg;
  return line + "\n-> " + std::to_string(r.status) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

TEST(Ldic, VersionAndHelpOfEveryCommand) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"version"}}) {
    const ProgramResult r = Ldic(dir, args);
    EXPECT_EQ(r.status, 0) << Describe(args, r);
    EXPECT_EQ(r.out, "ldic " LDIC_VERSION "\n");
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"help"}}) {
    const ProgramResult r = Ldic(dir, args);
    EXPECT_EQ(r.status, 0) << Describe(args, r);
    for (const char* text : {"Usage: ldic", "Exit status", "2    usage error", "130  interrupted"})
      EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
  for (const std::string command :
       {"convert", "info", "verify", "dump", "lookup", "export", "register"}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"help", command}, {command, "--help"}}) {
      const ProgramResult r = Ldic(dir, args);
      EXPECT_EQ(r.status, 0) << Describe(args, r);
      EXPECT_NE(r.out.find("Usage: ldic " + command + " [OPTIONS]"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Example: ldic " + command), std::string::npos) << r.out;
      EXPECT_EQ(r.err, "");
    }
  }
  // convert's --version is the dictionary's; its help says which is which.
  const ProgramResult convert = Ldic(dir, {"convert", "--help"});
  EXPECT_NE(convert.out.find("the dictionary's version"), std::string::npos);
  EXPECT_NE(convert.out.find("ldic --version"), std::string::npos);
}

TEST(Ldic, OneExitStatusRuleAndOneMessageForm) {
  TempDir dir;
  const std::string list = WideToUtf8(dir.File(L"words.txt"));
  const std::string pkg = WideToUtf8(dir.File(L"words.ldic"));
  lumo_test::WriteBytes(dir.File(L"words.txt"), kList);
  lumo_test::WriteBytes(dir.File(L"LumoDict.ini"), "[Main]\r\n");
  ASSERT_EQ(Ldic(dir, {"convert", "-q", list, "--date=2024-01-02"}).status, 0);
  std::string bad = lumo_test::ReadBytes(dir.File(L"words.ldic"));
  bad[bad.size() - 10] ^= 1;
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bad);
  const std::vector<std::pair<std::string, std::string>> values = {
      {"list", list}, {"pkg", pkg}, {"dir", WideToUtf8(dir.Path())},
      {"ini", WideToUtf8(dir.File(L"LumoDict.ini"))}, {"bad", WideToUtf8(dir.File(L"bad.ldic"))},
      {"input-missing", UserMessageUtf8(UserMessage::kInputMissing)},
      {"name-empty", UserMessageUtf8(UserMessage::kNameEmpty)}};

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // what stdout holds; "" means it must be empty
    std::string err;  // what stderr holds; "" means it must be empty
  };
  const Case cases[] = {
      // No command: what ldic can do, as a usage error (the others: UsageErrorsSayWhatIsWrong).
      {{}, 2, "", "Usage: ldic [OPTIONS] [COMMAND]"},
      // Failures: the message, the path and the system's reason.
      {{"info", "{dir}/none/x.ldic"}, 1, "",
       "ldic: cannot open the package \u2014 {dir}/none/x.ldic: No such file or directory"},
      {{"verify", "{dir}/none.ldic"}, 1, "", "{dir}/none.ldic: No such file or directory"},
      {{"dump", "{dir}/none.ldic", "-o", "{dir}/x.txt"}, 1, "", "No such file or directory"},
      {{"convert", "{dir}/none.txt"}, 1, "",
       // The reason is the system's own words (Windows says it otherwise).
       "ldic: {input-missing} \u2014 {dir}/none.txt: "},
      {{"lookup", "{pkg}", "cherry"}, 1, "", "ldic: no entry for \"cherry\""},
      {{"verify", "{bad}"}, 1, "2 problems found", ""},
      // Success, with the output it is for; -q keeps the rest quiet.
      {{"info", "{pkg}"}, 0, "Entries:       3", ""},
      {{"info", "-q", "{pkg}"}, 0, "", ""},
      {{"verify", "--quiet", "{pkg}"}, 0, "", ""},
      {{"lookup", "{pkg}", "--", "-dash"}, 0, "-dash\tminus\n", ""},
      {{"lookup", "-q", "{pkg}", "apple"}, 0, "", ""},
      {{"dump", "{pkg}", "-o", "-"}, 0, kDump, ""},
      {{"dump", "-q", "{pkg}", "--output={dir}/d.txt"}, 0, "", ""},
      {{"export", "-q", "{pkg}", "--stardict={dir}/sd"}, 0, "", ""},
      {{"convert", "-q", "--name=Named", "--output={dir}/named.ldic", "--", "{list}"}, 0, "", ""},
      {{"info", "{dir}/named.ldic"}, 0, "Name:          Named\n", ""},
      // The blanks around a name are dropped; a name of blanks only is no name.
      {{"convert", "-q", "--name= \t Two words  ", "-o", "{dir}/spaced.ldic", "{list}"}, 0, "", ""},
      {{"info", "{dir}/spaced.ldic"}, 0, "Name:          Two words\n", ""},
      {{"convert", "--name=   ", "-o", "{dir}/blank.ldic", "{list}"}, 1, "", "ldic: {name-empty}"},
      {{"convert", "{list}", "-o", "{dir}/loud.ldic"}, 0, "loud.ldic: 3 entries\n",
       "skipped: 0 (no separator 0, unclosed quote 0, empty headword 0)"},
      {{"register", "-q", "{pkg}", "--ini={ini}"}, 0, "", ""},
      // One list into --out-dir: its package there, told as for -o.
      {{"convert", "{list}", "--out-dir", "{dir}/one"}, 0, "words.ldic: 3 entries\n", "lines read: 3"},
      {{"verify", "-q", "{dir}/one/words.ldic"}, 0, "", ""},
      // A package under a temporary file's name is written whole; a dump over its own
      // package is refused.
      {{"convert", "-q", "{list}", "-o", "{dir}/LumoDictTemp.des.dz"}, 0, "", ""},
      {{"verify", "-q", "{dir}/LumoDictTemp.des.dz"}, 0, "", ""},
      {{"dump", "{pkg}", "-o", "{pkg}"}, 1, "",
       "ldic: cannot write the word list \u2014 {pkg}: it is the package itself"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(Fill(arg, values));
    const ProgramResult r = Ldic(dir, args);
    const std::string trace = Describe(args, r);
    EXPECT_EQ(r.status, c.status) << trace;
    for (const auto& [expected, got] :
         {std::pair{Fill(c.out, values), r.out}, {Fill(c.err, values), r.err}}) {
      if (expected.empty())
        EXPECT_EQ(got, "") << trace;
      else
        EXPECT_NE(got.find(expected), std::string::npos) << expected << "\n" << trace;
    }
  }
  EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"d.txt")), kDump);
}

// '-' wherever a stream can stand: every command that reads a package takes it from
// standard input (by way of a copy of its own, gone afterwards), and --report - writes the
// report alone to standard output.
TEST(Ldic, StandardInputAndOutputWhereverAStreamCanStand) {
  TempDir dir;
#ifndef _WIN32
  // The copies of standard input go where the test sees that none is left.
  TempDir temp;
  const char* const earlierTemp = std::getenv("TMPDIR");
  const std::string keptTemp = earlierTemp ? earlierTemp : "";
  ::setenv("TMPDIR", WideToUtf8(temp.Path()).c_str(), 1);
#endif
  const std::string folder = WideToUtf8(dir.Path());
  lumo_test::WriteBytes(dir.File(L"words.txt"), kList);
  ASSERT_EQ(Ldic(dir, {"convert", "-q", folder + "/words.txt", "--date=D"}).status, 0);
  const std::string pkg = lumo_test::ReadBytes(dir.File(L"words.ldic"));
  std::string bad = pkg;
  bad[bad.size() - 10] ^= 1;
  const std::string damaged = UserMessageUtf8(UserMessage::kPackageDamaged);
  struct Case {
    std::vector<std::string> args;  // {dir}: the folder
    std::string input;
    int status;
    std::string out;  // contained in stdout; "" means it must be empty
    std::string err;  // contained in stderr; "" means it must be empty
  };
  const Case cases[] = {
      {{"info", "-"}, pkg, 0, "Package:       - (" + std::to_string(pkg.size()) + " bytes)\n", ""},
      {{"info", "--json", "-"}, pkg, 0, "{\"package\":\"-\",\"file_size\":" + std::to_string(pkg.size()), ""},
      {{"info", "-"}, bad, 0, "(does not match the file", ""},
      {{"verify", "-"}, pkg, 0, "-: OK\n", ""},
      {{"verify", "-"}, bad, 1, "-: 2 problems found\n", ""},
      {{"dump", "-"}, pkg, 0, kDump, ""},
      {{"dump", "-", "-o", "-"}, pkg, 0, kDump, ""},
      {{"lookup", "-", "apple"}, pkg, 0, "apple\tred fruit\n", ""},
      {{"lookup", "-", "apple"}, bad, 1, "", "ldic: " + damaged + " \u2014 -: file checksum mismatch"},
      {{"export", "-q", "-", "--stardict", "{dir}/sd"}, pkg, 0, "", ""},
      {{"info", "-"}, "", 1, "", " \u2014 -: file too short"},
      // The report alone on stdout; the package's line goes to stderr with the summary.
      {{"convert", "-", "-o", "{dir}/r.ldic", "--report", "-"}, "apple\tred\nno separator\n", 0,
       "line\treason\ttext\n2\tno-separator\tno separator\n", "r.ldic: 1 entries"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(Fill(arg, {{"dir", folder}}));
    const ProgramResult r = Ldic(dir, args, c.input);
    const std::string trace = Describe(args, r);
    EXPECT_EQ(r.status, c.status) << trace;
    for (const auto& [expected, got] : {std::pair{c.out, r.out}, {c.err, r.err}}) {
      if (expected.empty())
        EXPECT_EQ(got, "") << trace;
      else
        EXPECT_NE(got.find(expected), std::string::npos) << expected << "\n" << trace;
    }
    if (args.back() == "-" && args[args.size() - 2] == "--report") {
      EXPECT_EQ(r.out, c.out) << trace;
    }
  }
  // A package without a file name is exported under its folder's name.
  EXPECT_TRUE(lumo_test::FileExists(dir.File(L"sd") + L"/sd.ifo"));
  EXPECT_FALSE(std::filesystem::exists(lumo_test::FsPath(dir.File(L"-"))));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_empty(lumo_test::FsPath(temp.Path())));
  if (earlierTemp)
    ::setenv("TMPDIR", keptTemp.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
#endif
}

// Several word lists into one folder, two at a time: each package is the one its list
// gives alone, a list that fails stops nothing else, and the summary has a line for each;
// the exit status is 1 when any failed.
TEST(Ldic, SeveralWordListsGoIntoOneFolder) {
  TempDir dir;
  const std::string folder = WideToUtf8(dir.Path());
  const std::string out = folder + "/out/new";  // made, with its parent
  const std::pair<const char*, std::string> lists[] = {
      {"a.txt", kList}, {"b.csv", "x,y\nz,w\n"}, {"bad.txt", "no separator\n"}, {"c.txt", std::string(kList) + "cat\tanimal\n"}};
  std::vector<std::string> args = {"convert"};
  for (const auto& [name, bytes] : lists) {
    lumo_test::WriteBytes(dir.File(Utf8ToWideText(name)), bytes);
    args.push_back(folder + "/" + name);
  }
  args.insert(args.end() - 1, folder + "/missing.txt");
  for (const std::string more : {"--out-dir", out.c_str(), "--jobs", "2", "--date", "D"}) args.push_back(more);
  const ProgramResult r = Ldic(dir, args);
  const std::string trace = Describe(args, r);
  EXPECT_EQ(r.status, 1) << trace;
  // stdout: the packages made, in the lists' order.
  size_t at = 0;
  for (const char* line : {"a.ldic: 3 entries", "b.ldic: 2 entries", "c.ldic: 4 entries"}) {
    at = r.out.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << trace;
  }
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << trace;
  for (const std::string& line : std::vector<std::string>{
           folder + "/a.txt: 3 entries (0 lines skipped, 0 repaired)",
        "ldic: " + folder + "/bad.txt: " + UserMessageUtf8(UserMessage::kNoEntries),
        "ldic: " + folder + "/missing.txt: " + UserMessageUtf8(UserMessage::kInputMissing),
        "converted 3 of 5 word lists, 2 failed"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << trace;
  // Each package as its list gives it alone; nothing else in the folder.
  std::vector<std::string> made;
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(Utf8ToWideText(out))))
    made.push_back(entry.path().filename().string());
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, (std::vector<std::string>{"a.ldic", "b.ldic", "c.ldic"}));
  for (const char* name : {"a", "b", "c"}) {
    const std::string list = folder + "/" + name + (name[0] == 'b' ? ".csv" : ".txt");
    ASSERT_EQ(Ldic(dir, {"convert", "-q", list, "-o", folder + "/alone.ldic", "--date", "D"}).status, 0);
    EXPECT_TRUE(lumo_test::ReadBytes(dir.File(L"alone.ldic")) ==
                lumo_test::ReadBytes(Utf8ToWideText(out + "/" + name + ".ldic")))
        << name;
  }
  // All converted: status 0, and -q says nothing.
  const ProgramResult quiet = Ldic(dir, {"convert", "-q", folder + "/a.txt", folder + "/c.txt", "--out-dir", out});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");
}

// Every kind of wrong command line gets one line in the form of the other failures: what
// is wrong and what it concerns, the same in English, and where the help is; exit status
// 2, nothing on stdout, and nothing done.
TEST(Ldic, UsageErrorsSayWhatIsWrong) {
  TempDir dir;
  const std::string help = "; 运行 ldic help";  // "; 运行 ldic help"
  struct Case {
    std::vector<std::string> args;
    std::string err;  // the whole of stderr, without its line break
  };
  const Case cases[] = {
      {{"bogus"}, "ldic: 未知命令 bogus — unknown command; 运行 ldic help 查看用法"},
      {{"help", "bogus"}, "ldic: 未知命令 bogus — unknown command; 运行 ldic help 查看用法"},
      {{"--nosuch", "info", "w.ldic"}, "ldic: 未知选项 --nosuch — unknown option; 运行 ldic help 查看用法"},
      {{"convert", "w.txt", "--nosuch=3"},
       "ldic: 未知选项 --nosuch — unknown option; 运行 ldic help convert 查看用法"},
      {{"info", "-qx", "w.ldic"}, "ldic: 未知选项 -x — unknown option; 运行 ldic help info 查看用法"},
      {{"convert"}, "ldic: 缺少参数 WORDLIST — missing argument; 运行 ldic help convert 查看用法"},
      {{"lookup", "w.ldic"}, "ldic: 缺少参数 WORD — missing argument; 运行 ldic help lookup 查看用法"},
      {{"export", "w.ldic"}, "ldic: 缺少选项 --stardict — missing option; 运行 ldic help export 查看用法"},
      {{"convert", "w.txt", "--threads"},
       "ldic: 选项 --threads 缺少值 — missing value; give it as --threads N or --threads=N; "
       "运行 ldic help convert 查看用法"},
      {{"dump", "w.ldic", "-o"},
       "ldic: 选项 --output 缺少值 — missing value; give it as --output FILE or --output=FILE; "
       "运行 ldic help dump 查看用法"},
      {{"convert", "w.txt", "--threads=0"},
       "ldic: 选项 --threads 的值 0 无效 — out of range; expected a whole number from 1 to 256; "
       "运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--threads", "2x"},
       "ldic: 选项 --threads 的值 2x 无效 — not a number; expected a whole number from 1 to 256; "
       "运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--from", "nope"},
       "ldic: 选项 --from 的值 nope 无效 — not one of auto, list, stardict, mdict; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--encoding=latin-9"},
       "ldic: 选项 --encoding 的值 latin-9 无效 — expected one of auto, utf-8, utf-16le, utf-16be, "
       "ansi or cpNNN; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--strict=maybe"},
       "ldic: 选项 --strict 的值 maybe 无效 — a switch takes no value, or true or false; "
       "运行 ldic help convert 查看用法"},
      {{"register", "w.ldic", "--ini", ""},
       "ldic: 选项 --ini 的值 \"\" 无效 — empty path; 运行 ldic help register 查看用法"},
      {{"info", "a.ldic", "b.ldic"}, "ldic: 多余的参数 b.ldic — unexpected argument; 运行 ldic help info 查看用法"},
      {{"help", "convert", "extra"},
       "ldic: 多余的参数 extra — unexpected argument; 运行 ldic help help 查看用法"},
      {{"convert", "w.txt", "--name", "a", "--name=b"},
       "ldic: 选项 --name 只能给出一次 — given more than once; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--ini", "x.ini"},
       "ldic: 选项 --ini 须与 --register 一起使用 — --ini needs --register; 运行 ldic help convert 查看用法"},
      {{"convert", "-"},
       "ldic: 用法错误 — a word list from standard input ('-') needs -o PACKAGE; "
       "运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "-o", "W.LDIC", "--register"},
       "ldic: 用法错误 — --register needs a package named *.ldic, the only name LumoDict lists; "
       "运行 ldic help convert 查看用法"},
      // Several word lists: each into --out-dir, under a name of its own.
      {{"convert", "w.txt", "w.csv"},
       "ldic: 用法错误 — several word lists need --out-dir DIR, which gets a package for each "
       "(-o names one package); 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "sub/W.csv", "--out-dir", "o"},
       "ldic: 用法错误 — w.txt and sub/W.csv would both become W.ldic in the folder; convert one of "
       "them on its own; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "x.txt", "--out-dir=o", "--name", "n"},
       "ldic: 用法错误 — --name is for one word list, not several; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "-o", "p.ldic", "--out-dir", "o"},
       "ldic: 选项 --output 不能与 --out-dir 一起使用 — --output cannot go with --out-dir; "
       "运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--jobs", "2"},
       "ldic: 选项 --jobs 须与 --out-dir 一起使用 — --jobs needs --out-dir; 运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "--out-dir", "o", "--jobs", "65"},
       "ldic: 选项 --jobs 的值 65 无效 — out of range; expected a whole number from 1 to 64; "
       "运行 ldic help convert 查看用法"},
      {{"convert", "w.txt", "-", "--out-dir", "o"},
       "ldic: 用法错误 — standard input ('-') cannot be one of several word lists; 运行 ldic help convert 查看用法"},
      {{"convert", "-", "--out-dir", "o"},
       "ldic: 用法错误 — a word list from standard input ('-') has no name for --out-dir; give -o "
       "PACKAGE; 运行 ldic help convert 查看用法"},
      // '-' where no stream can stand.
      {{"export", "w.ldic", "--stardict", "-"},
       "ldic: 用法错误 — the StarDict files go into a folder, not to standard output ('-'); "
       "运行 ldic help export 查看用法"},
      {{"register", "-"},
       "ldic: 用法错误 — LumoDict lists a package by its path; standard input ('-') has none; "
       "运行 ldic help register 查看用法"},
  };
  // stderr is text: on Windows its lines end in CR LF.
#ifdef _WIN32
  constexpr char kLineEnd[] = "\r\n";
#else
  constexpr char kLineEnd[] = "\n";
#endif
  lumo_test::WriteBytes(dir.File(L"w.txt"), kList);
  for (const Case& c : cases) {
    const ProgramResult r = Ldic(dir, c.args);
    const std::string trace = Describe(c.args, r);
    EXPECT_EQ(r.status, 2) << trace;
    EXPECT_EQ(r.err, c.err + kLineEnd) << trace;
    EXPECT_EQ(r.out, "") << trace;
  }
  // Nothing was made: only the word list (and the captured output) is there.
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) {
    const std::string file = entry.path().filename().string();
    EXPECT_TRUE(file == "w.txt" || file.rfind("program.", 0) == 0) << file;
  }
}

// A device as every output, as the system names one (Windows: NUL in any folder; POSIX: a
// link to /dev/null): convert refuses it before any work, dump writes into it, export
// wants a folder; the device stays what it was.
TEST(Ldic, ADeviceIsWrittenIntoAndNeverReplaced) {
  TempDir dir;
  const std::string list = WideToUtf8(dir.File(L"words.txt"));
  const std::string pkg = WideToUtf8(dir.File(L"words.ldic"));
  lumo_test::WriteBytes(dir.File(L"words.txt"), kList);
  ASSERT_EQ(Ldic(dir, {"convert", "-q", list}).status, 0);
#ifdef _WIN32
  const std::string device = WideToUtf8(dir.File(L"NUL"));
#else
  const std::string device = WideToUtf8(dir.File(L"null"));
  std::error_code ec;
  std::filesystem::create_symlink("/dev/null", lumo_test::FsPath(dir.File(L"null")), ec);
  ASSERT_FALSE(ec) << ec.message();
#endif
  const std::string notFile = UserMessageUtf8(UserMessage::kSaveNotRegularFile);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"convert", list, "-o", device}, 1, "ldic: " + notFile + " \u2014 " + device},
      {{"dump", pkg, "-o", device}, 0, ""},
      {{"convert", "-q", list, "-o", WideToUtf8(dir.File(L"r.ldic")), "--report", device}, 0, ""},
      {{"export", pkg, "--stardict", device}, 1, device + ": not a folder"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = Ldic(dir, c.args);
    EXPECT_EQ(r.status, c.status) << Describe(c.args, r);
    if (c.err.empty())
      EXPECT_EQ(r.err, "") << Describe(c.args, r);
    else
      EXPECT_NE(r.err.find(c.err), std::string::npos) << Describe(c.args, r);
  }
  // Nothing new beside the package but the report run's package; the device is no file.
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path())))
    names.push_back(lumo_test::WidePath(entry.path().filename()));
  std::sort(names.begin(), names.end());
#ifdef _WIN32
  const std::vector<std::wstring> expected = {L"program.err", L"program.out", L"r.ldic", L"words.ldic", L"words.txt"};
#else
  const std::vector<std::wstring> expected = {L"null", L"program.err", L"program.out", L"r.ldic", L"words.ldic", L"words.txt"};
  EXPECT_TRUE(std::filesystem::is_symlink(lumo_test::FsPath(dir.File(L"null"))));
#endif
  EXPECT_EQ(names, expected);
}

// Two ldic processes converting different word lists into one folder at once: each run
// has temporary files of its own, so both packages are sound and hold their own lists.
TEST(Ldic, ConcurrentConversionsIntoOneFolderKeepTheirOwnData) {
#ifdef _WIN32
  constexpr int kRounds = 3;  // every ldic.exe start under Wine is slow
#else
  constexpr int kRounds = 10;
#endif
  TempDir dir;
  std::string lists[2];  // in index order already, so that a dump gives them back as they are
  for (int i = 0; i < 2; ++i) {
    for (int n = 100000; n < 130000; ++n)
      lists[i] += "w" + std::to_string(n) + "\t" + (i ? "second " : "first ") + std::to_string(n * 7919) + "\n";
  }
  std::string paths[2][2];  // list, package
  for (int i = 0; i < 2; ++i) {
    const std::wstring name = i ? L"second" : L"first";
    lumo_test::WriteBytes(dir.File(name + L".txt"), lists[i]);
    paths[i][0] = WideToUtf8(dir.File(name + L".txt"));
    paths[i][1] = WideToUtf8(dir.File(name + L".ldic"));
  }
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempDir logs[2];
    ProgramResult results[2];
    {
      std::vector<std::thread> runs;
      for (int i = 0; i < 2; ++i)
        runs.emplace_back([&, i] {
          results[i] = cli_test::RunProgram(LDIC_PROGRAM, {"convert", "-q", paths[i][0], "-o", paths[i][1]},
                                            std::nullopt, logs[i].Path());
        });
      for (std::thread& run : runs) run.join();
    }
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(results[i].status, 0) << results[i].err;
      EXPECT_EQ(Ldic(dir, {"verify", "-q", paths[i][1]}).status, 0);
      const ProgramResult dump = Ldic(dir, {"dump", paths[i][1]});
      EXPECT_TRUE(dump.out == lists[i]) << "package " << i;
      std::filesystem::remove(lumo_test::FsPath(Utf8ToWideText(paths[i][1])));
    }
    // Nothing of either run is left: only the two lists (and the checks' captured output).
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path())))
      files += entry.path().filename().string().rfind("program.", 0) != 0;
    EXPECT_EQ(files, 2u);
  }
}

// A word list from a pipe gives the very package the file gives, in every encoding; the
// package's name then comes from the package's own base name.
TEST(Ldic, StandardInputGivesTheSamePackageAsTheFile) {
  std::string ascii;  // longer than the reader's block, and ASCII to the end: the
                      // encoding is decided only by the last bytes
  for (int i = 0; i < 4000; ++i)
    ascii += "word" + std::to_string(i * 7919 % 4001) + "\tsome text\n";
  const std::string chinese =
      "\xe8\x8b\xb9\xe6\x9e\x9c\t\xe6\xb0\xb4\xe6\x9e\x9c\r\nbee,\"insect\"\r";
  const std::u16string utf16 = u"\u82f9\u679c\t\u6c34\u679c\nbee\tinsect\n";
  std::string le = "\xff\xfe", be = "\xfe\xff", lone = "\xff\xfe";
  for (char16_t unit : utf16) {
    le += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    be += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  }
  for (char16_t unit : std::u16string(u"a\xD800\tb\nc\tlow \xDC00\nhigh last\t\xD83D"))
    lone += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  const std::pair<const char*, std::string> lists[] = {
      {"ascii", ascii},
      {"utf8", ascii + chinese},
      {"utf8-bom", "\xef\xbb\xbf" + chinese},
      {"utf16le", le},
      {"utf16be", be},
      {"utf16 lone surrogates", lone},  // repaired alike
      {"ansi", ascii + "caf\xe9\tcoffee\n"},
      // Bad lines on both sides of the middle, where two threads part a file but not a
      // pipe, read line by line: the same line numbers either way.
      {"bad lines", "\xef\xbb\xbf" + ascii + "no separator\n" + std::string("nul\0,x\n", 7) +
                        ascii + "\"open, quote\ncaf\xff,x\n"},
  };
  for (const auto& [name, bytes] : lists) {
    SCOPED_TRACE(name);
    TempDir dir;
    lumo_test::WriteBytes(dir.File(L"words.txt"), bytes);
    const ProgramResult fromFile =
        Ldic(dir, {"convert", WideToUtf8(dir.File(L"words.txt")), "--date", "D", "--threads", "2"});
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    std::filesystem::create_directory(lumo_test::FsPath(dir.File(L"pipe")));
    const std::string piped = WideToUtf8(dir.File(L"pipe")) + "/words.ldic";
    const ProgramResult fromPipe = Ldic(dir, {"convert", "-", "-o", piped, "--date", "D"}, bytes);
    ASSERT_EQ(fromPipe.status, 0) << fromPipe.err;
    const auto entries = [](const std::string& out) { return out.substr(out.rfind(':')); };
    EXPECT_EQ(entries(fromPipe.out), entries(fromFile.out));
    EXPECT_EQ(fromPipe.err, fromFile.err);  // the run report
    EXPECT_TRUE(lumo_test::ReadBytes(dir.File(L"words.ldic")) ==
                lumo_test::ReadBytes(Utf8ToWideText(piped)));
  }
}

TEST(Ldic, ConvertReportsWhatTheListGave) {
  // Lines 2 to 4 give no entry, 5 is blank, 6 and 7 are repaired, "dup" is repeated.
  const std::string bad = "\xef\xbb\xbf" "apple\tred\nno separator\n\"open, quote\n,orphan\n\n" +
                          std::string("bee,in\0sect\n", 12) + "caf\xff,x\ndup,1\ndup,2\n";
  const std::string badSummary =
      "lines read: 9\nentries: 5\n"
      "skipped: 3 (no separator 1, unclosed quote 1, empty headword 1) (line 2, 3, 4)\n"
      "repaired: 2 lines (1 invalid bytes replaced, 1 NULs dropped) (line 6, 7)\n"
      "repeated headwords: 1\nencoding: utf-8\n";
  const std::string badReport =
      "line\treason\ttext\n0\tencoding\tutf-8\n2\tno-separator\tno separator\n3\tunclosed-quote\t\"open, quote\n"
      "4\tempty-headword\t,orphan\n6\trepaired\tbee,insect\n7\trepaired\tcaf\xef\xbf\xbd,x\n";
  std::string utf16;  // little-endian, without a mark
  for (const char c : std::string("apple\tred\nbee\tinsect\n")) utf16 += {c, '\0'};
  const std::string noEntries = UserMessageUtf8(UserMessage::kNoEntries);
  const std::string notText = UserMessageUtf8(UserMessage::kNotText);
  // A UTF-8 list of Chinese explanations whose line 2 holds one Latin-1 byte.
  std::string stray = "apple\t\xe8\x8b\xb9\xe6\x9e\x9c\ncaf\xe9\tcoffee house\n";
  for (int i = 0; i < 300; ++i) stray += "word" + std::to_string(i) + "\t\xe5\x92\x96\xe5\x95\xa1\xe9\xa6\x86\n";
  // GBK whose first 40 characters happen to be well-formed UTF-8 pairs (苹, C6 BB).
  std::string lucky;
  for (int i = 0; i < 40; ++i) lucky += "\xc6\xbb";
  lucky += "\tx\n";
  for (int i = 0; i < 40; ++i) lucky += "word" + std::to_string(i) + "\t\xbf\xa7\xb7\xc8\xb9\xdd\n";
  // UTF-16LE with its mark: a lone high and a lone low surrogate, and a NUL unit.
  std::string surrogates = "\xff\xfe";
  using std::literals::string_literals::operator""s;
  for (const char16_t unit : u"apple\tred\nb\xD800" u"ee\tinsect\nc\xDC00" u"at\tanimal\nn\0ul\tx\n"s)
    surrogates += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  // A package, made first, as a word list.
  const TempDir packageDir;
  lumo_test::WriteBytes(packageDir.File(L"p.txt"), kList);
  EXPECT_EQ(Ldic(packageDir, {"convert", "-q", WideToUtf8(packageDir.File(L"p.txt")), "--date=D"}).status, 0);
  const std::string package = lumo_test::ReadBytes(packageDir.File(L"p.ldic"));
  ASSERT_FALSE(package.empty());

  struct Case {
    const char* name;
    std::string list;
    std::vector<std::string> options;
    int status;
    std::string err;     // contained in stderr ('\r' left out)
    std::string report;  // the --report file, when the case writes one
  };
  const Case cases[] = {
      {"clean", kList, {}, 0, "skipped: 0 (no separator 0, unclosed quote 0, empty headword 0)\n"
                             "repaired: 0 lines (0 invalid bytes replaced, 0 NULs dropped)\n", ""},
      {"bad lines", bad, {}, 0, badSummary, ""},
      {"bad lines, report", bad, {"--report", "{dir}/r.tsv"}, 0, badSummary, badReport},
      {"bad lines, strict", bad, {"--strict", "--report", "{dir}/r.tsv"}, 1,
       "ldic: --strict: 3 lines skipped, 2 repaired; no package written", badReport},
      {"clean, strict", kList, {"--strict"}, 0, "entries: 3\n", ""},
      {"bad lines, merged, report", bad, {"--duplicates", "merge", "--report", "{dir}/r.tsv"}, 0,
       "entries: 4\n", badReport + "9\tmerged\tdup\n"},
      {"bad lines, first", bad, {"--duplicates=first"}, 0,
       "repeated headwords: 1\ndropped: 1 (line 9)\nencoding: utf-8\n", ""},
      {"repeats merged, strict", bad.substr(0, 3) + "dup,1\ndup,2\n", {"--duplicates=merge", "--strict"}, 0,
       "merged: 1 (line 2)\n", ""},
      {"unknown duplicates", kList, {"--duplicates", "last"}, 2, "--duplicates", ""},
      {"empty", "", {}, 1, "ldic: " + noEntries, ""},
      {"only bad lines", "no separator\n,orphan\n", {"--report", "{dir}/r.tsv"}, 1, noEntries,
       "line\treason\ttext\n1\tno-separator\tno separator\n2\tempty-headword\t,orphan\n"},
      {"utf-16 without a mark, detected", utf16, {}, 0, "lines read: 2\nentries: 2\n", ""},
      {"utf-16 without a mark, detected, report", utf16, {"--report", "{dir}/r.tsv"}, 0,
       "encoding: utf-16le\n", "line\treason\ttext\n"},
      {"utf-16 without a mark, named", utf16, {"--encoding", "utf-16le"}, 0,
       "lines read: 2\nentries: 2\n", ""},
      {"ansi named for utf-8", "\xef\xbb\xbf" "a,b\n", {"--encoding=ansi"}, 0, "encoding: ansi", ""},
      {"unknown encoding", kList, {"--encoding", "latin-9"}, 2, "--encoding", ""},
      {"unknown code page", kList, {"--encoding", "cp99999"}, 2, "--encoding", ""},
      {"code page", "\xC6\xBB\xB9\xFB,apple\n", {"--encoding", "cp936"}, 0, "encoding: cp936", ""},
      // The encoding is decided by the whole of the list's start, and named.
      {"a stray byte in line 2 of UTF-8", stray, {"--report", "{dir}/r.tsv"}, 0,
       "repaired: 1 lines (1 invalid bytes replaced, 0 NULs dropped) (line 2)\nrepeated headwords: 0\n"
       "encoding: utf-8\n",
       "line\treason\ttext\n0\tencoding\tutf-8\n2\trepaired\tcaf\xef\xbf\xbd\tcoffee house\n"},
      {"GBK that starts as UTF-8 pairs", lucky, {}, 0, "encoding: ansi (cp", ""},
      // Every replacement is counted and listed by its line.
      {"lone surrogates", surrogates, {"--report", "{dir}/r.tsv"}, 0,
       "repaired: 3 lines (2 invalid bytes replaced, 1 NULs dropped) (line 2, 3, 4)\n",
       "line\treason\ttext\n0\tencoding\tutf-16le\n2\trepaired\tb\xef\xbf\xbd" "ee\tinsect\n"
       "3\trepaired\tc\xef\xbf\xbd" "at\tanimal\n"
       "4\trepaired\tnul\tx\n"},
      {"bytes the code page cannot map", "\xC6\xBB\xB9\xFB,apple\nab\x81\x7F,x\n", {"--encoding", "cp936"}, 0,
       "repaired: 1 lines (1 invalid bytes replaced, 0 NULs dropped) (line 2)\n", ""},
      // Files that are no text are refused before any work.
      {"PNG", MachineFile(LUMO_SOURCE_DIR "/docs/screenshot.png"), {"--report", "{dir}/r.tsv"}, 1, notText, ""},
      {"program", MachineFile(LDIC_PROGRAM), {}, 1, notText, ""},
      {"package", package, {}, 1, notText, ""},
      {"program, named UTF-8", MachineFile(LDIC_PROGRAM), {"--encoding", "utf-8"}, 1, notText, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    lumo_test::WriteBytes(dir.File(L"words.txt"), c.list);
    std::vector<std::string> args = {"convert", WideToUtf8(dir.File(L"words.txt")), "--date=D"};
    for (const std::string& option : c.options)
      args.push_back(Fill(option, {{"dir", WideToUtf8(dir.Path())}}));
    ProgramResult r = Ldic(dir, args);
    std::erase(r.err, '\r');
    const std::string trace = Describe(args, r);
    EXPECT_EQ(r.status, c.status) << trace;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.err << "\n" << trace;
    EXPECT_EQ(lumo_test::FileExists(dir.File(L"words.ldic")), c.status == 0) << trace;
    if (!c.report.empty()) {
      EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"r.tsv")), c.report);
    }
    // A list refused as no text gets no report either: nothing was read from it.
    if (c.err == notText) {
      EXPECT_FALSE(lumo_test::FileExists(dir.File(L"r.tsv")));
    }
  }
}

// The sample list, in UTF-8 and in GBK, reads as it always has where the old and the new
// ways of telling the encoding agree: found by itself, the encoding gives the package that
// naming it gives, and both forms give one package. (Run with the Chinese code page.)
TEST(Ldic, TheSampleListReadsAsItDidInUtf8AndGbk) {
  TempDir dir;
  const std::string folder = WideToUtf8(dir.Path());
  lumo_test::WriteBytes(dir.File(L"fruit.txt"), MachineFile(LUMO_SOURCE_DIR "/samples/fruit.txt"));
  lumo_test::WriteBytes(dir.File(L"gbk.txt"), lumo_test::ReadBytes(host_test::FixturePath(L"fruit-gbk.txt")));
  const std::pair<const char*, std::vector<std::string>> runs[] = {
      {"fruit.txt", {}}, {"fruit.txt", {"--encoding", "utf-8"}}, {"gbk.txt", {}}, {"gbk.txt", {"--encoding", "cp936"}}};
  std::vector<std::string> packages;
  for (const auto& [list, options] : runs) {
    std::vector<std::string> args = {"convert", folder + "/" + list, "-o", folder + "/p.ldic", "--name=fruit", "--date=D"};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult r = Ldic(dir, args);
    ASSERT_EQ(r.status, 0) << Describe(args, r);
    EXPECT_NE(r.err.find("repaired: 0 lines"), std::string::npos) << Describe(args, r);
    packages.push_back(lumo_test::ReadBytes(dir.File(L"p.ldic")));
  }
  for (const std::string& package : packages) EXPECT_TRUE(package == packages[0]);
}

// A list in a code page that is not the system's, named by its number, gives the package
// its UTF-8 form gives.
TEST(Ldic, ACodePageByNumberReadsTheListAsItsUtf8FormReads) {
  struct Case {
    const char* codePage;
    std::string bytes;  // "苹果,apple" or "яблоко,apple" in that code page
    std::string utf8;
  };
  const Case cases[] = {
      {"cp936", "\xC6\xBB\xB9\xFB,apple\n", "\xE8\x8B\xB9\xE6\x9E\x9C,apple\n"},
      {"cp1251", "\xFF\xE1\xEB\xEE\xEA\xEE,apple\n",
       "\xD1\x8F\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE,apple\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    TempDir dir;
    lumo_test::WriteBytes(dir.File(L"a.txt"), c.bytes);
    lumo_test::WriteBytes(dir.File(L"u.txt"), c.utf8);
    const std::string folder = WideToUtf8(dir.Path());
    ASSERT_EQ(Ldic(dir, {"convert", "-q", folder + "/a.txt", "--encoding", c.codePage, "--name=n",
                         "--date=D", "-o", folder + "/a.ldic"}).status, 0);
    ASSERT_EQ(Ldic(dir, {"convert", "-q", folder + "/u.txt", "--name=n", "--date=D", "-o",
                         folder + "/u.ldic"}).status, 0);
    EXPECT_TRUE(lumo_test::ReadBytes(dir.File(L"a.ldic")) == lumo_test::ReadBytes(dir.File(L"u.ldic")));
  }
}

}  // namespace
