// ldic info, verify, dump and lookup, run in-process; the dump's line format and the
// round trip from a package to a word list and back to the same package.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/utf.h"
#include "package/package_reader.h"
#include "platform/fault_injection.h"
#include "textio/line_parse.h"
#include "tests/package/reader_fixtures.h"

namespace {

using lumo_test::TempDir;
using reader_test::MakePackage;

struct CommandResult {
  int status;
  std::string out;
  std::vector<std::string> errors;  // the lines ldic printed on stderr
};

CommandResult RunCommand(std::vector<std::string> args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = RunLdic(std::move(args));
  std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  std::vector<std::string> errors;
  for (size_t at = 0, end; at < err.size(); at = end + 1) {
    end = err.find('\n', at);
    if (end == std::string::npos) end = err.size();
    errors.push_back(err.substr(at, end - at));
  }
  return {status, std::move(out), std::move(errors)};
}

std::string U8(const std::wstring& path) { return WideToUtf8(path); }

TEST(WordListLine, ReadsBackExactlyOrSaysItCannot) {
  struct Case {
    std::string headword, explanation, line;
    bool exact;
  };
  const Case cases[] = {
      {"apple", "red fruit", "apple\tred fruit", true},
      {"New York, NY", "city", "\"New York, NY\"\tcity", true},
      {"tab\there", "x", "\"tab\there\"\tx", true},
      {"say \"hi\" now", "x", "say \"hi\" now\tx", true},
      {"a\"b", "x", "a\"b\"\tx", true},          // an odd quote is closed after the word
      {"a,\"b", "x", "\"a,\"b\"\"\tx", true},
      {"w", "one, two\tthree \"q\" end", "w\tone, two\tthree \"q\" end", true},
      {"苹果", "水果", "苹果\t水果", true},
      {"empty", "", "empty\t", true},
      {"it's", "x", "it's\tx", true},
      {" padded", "x", " padded\tx", false},     // trimming takes the blank
      {"w", "'quoted'", "w\t'quoted'", false},
      {"w", "two\nlines\r\nand CR LF", "w\ttwo\\nlines\\r\\nand CR LF", false},
      {"w", std::string("nul\0byte", 8), "w\tnulbyte", false},
      {"w", "bad \xFF byte", "w\tbad \xFF byte", false},
      {"", "no headword", "\tno headword", false},
  };
  for (const Case& c : cases) {
    std::string line;
    EXPECT_EQ(FormatWordListLine(c.headword, c.explanation, &line), c.exact) << c.headword << " | " << c.explanation;
    EXPECT_EQ(line, c.line) << c.headword << " | " << c.explanation;
  }
}

TEST(DumpCommand, ConvertingTheDumpGivesTheSamePackage) {
  std::string list =
      "bee\tinsect\napple,red fruit\n\"New York, NY\",city\n苹果\t水果\nempty\t\n"
      "Apple\tcompany\napple\tsecond apple\nAPPLE\tshouting\nsay \"hi\" now\tgreeting\n"
      "tab list\tone\ttwo, three\n";
  list += "long\t" + reader_test::Prose(130000, 9) + "\n";
  TempDir dir;
  const std::wstring first = MakePackage(dir, list, reader_test::kFacts, L"first.ldic");
  const CommandResult dump =
      RunCommand({"dump", U8(first), "-o", U8(dir.File(L"dump.txt"))});
  ASSERT_EQ(dump.status, 0);
  EXPECT_TRUE(dump.errors.empty()) << dump.errors.front();
  EXPECT_EQ(dump.out, "");

  const std::string again = lumo_test::ReadBytes(dir.File(L"dump.txt"));
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(first));
  const std::wstring second =
      MakePackage(dir, again, reader_test::kFacts, L"second.ldic");
  EXPECT_TRUE(lumo_test::ReadBytes(first) == lumo_test::ReadBytes(second));
  EXPECT_EQ(again.substr(0, 75),
            "APPLE\tshouting\nApple\tcompany\napple\tred fruit\napple\tsecond apple\nbee\tinsect\n");
  EXPECT_NE(again.find("\n\"New York, NY\"\tcity\n"), std::string::npos);
}

TEST(DumpCommand, WarnsAboutEntriesThatCannotComeBack) {
  TempDir dir;
  const std::wstring path = MakePackage(dir, "a\tplain\nb\t\"quoted\"\n");
  CommandResult dump = RunCommand({"dump", U8(path)});
  EXPECT_EQ(dump.status, 0);
  // Conversion trimmed the quotes already, so this package dumps exactly.
  EXPECT_EQ(dump.out, "a\tplain\nb\tquoted\n");
  EXPECT_TRUE(dump.errors.empty());

  dump = RunCommand({"dump", U8(dir.File(L"none.ldic")), "-o", U8(dir.File(L"x.txt"))});
  EXPECT_EQ(dump.status, 1);
  ASSERT_EQ(dump.errors.size(), 1u);
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"x.txt")));
}

// The files of a folder and their bytes.
std::map<std::wstring, std::string> FolderContents(const TempDir& dir) {
  std::map<std::wstring, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path()))) {
    const std::wstring name = lumo_test::WidePath(entry.path().filename());
    files[name] = lumo_test::ReadBytes(dir.File(name));
  }
  return files;
}

// dump -o FILE and export replace their files only when complete: whichever file operation
// fails (each one in turn, with a full disk; and a disk that fills up at several points),
// the earlier files are as they were and nothing else is left. The one exception: a
// rename of an export's file after an earlier one worked.
TEST(DumpAndExport, AFailureLeavesTheEarlierFilesAsTheyWere) {
  TempDir dir;
  const std::string pkg = U8(MakePackage(dir, "bee\tinsect\nlong\t" + reader_test::Prose(150000, 3) + "\n"));
  for (const bool dump : {true, false}) {
    SCOPED_TRACE(dump ? "dump" : "export");
    TempDir out;
    const std::map<std::wstring, std::string> earlier =
        dump ? std::map<std::wstring, std::string>{{L"w.txt", "an earlier list"}}
             : std::map<std::wstring, std::string>{
                   {L"w.dict.dz", "earlier data"}, {L"w.idx", "earlier index"}, {L"w.ifo", "earlier"}};
    const std::vector<std::string> args =
        dump ? std::vector<std::string>{"dump", pkg, "-o", U8(out.File(L"w.txt"))}
             : std::vector<std::string>{"export", pkg, "--stardict", U8(out.Path())};
    const auto restore = [&] {
      for (const auto& [name, bytes] : FolderContents(out)) std::filesystem::remove(lumo_test::FsPath(out.File(name)));
      for (const auto& [name, bytes] : earlier) lumo_test::WriteBytes(out.File(name), bytes);
    };
    restore();
    platform::CFaultPlan counting(out.Path());
    {
      platform::CScopedFaultPlan installed(&counting);
      ASSERT_EQ(RunCommand(args).status, 0);
    }
    const std::map<std::wstring, std::string> complete = FolderContents(out);
    ASSERT_EQ(complete.size(), earlier.size());
    const int64_t operations = counting.Count(platform::FileOperation::kAny);
    std::vector<std::function<void(platform::CFaultPlan&)>> faults;
    for (const platform::Fault fault : lumo_test::kEveryFault)
      for (int64_t n = 1; n <= operations; ++n)
        faults.push_back([n, fault](platform::CFaultPlan& plan) {
          plan.FailAt(platform::FileOperation::kAny, n, fault);
        });
    for (const int64_t budget : {int64_t{0}, int64_t{100}, int64_t{40000}})
      faults.push_back([budget](platform::CFaultPlan& plan) { plan.FailWritesAfter(budget); });
    for (size_t i = 0; i < faults.size(); ++i) {
      SCOPED_TRACE("fault " + std::to_string(i));
      restore();
      platform::CFaultPlan plan(out.Path());
      faults[i](plan);
      CommandResult r;
      {
        platform::CScopedFaultPlan installed(&plan);
        r = RunCommand(args);
      }
      EXPECT_EQ(r.status, 1);
      ASSERT_FALSE(r.errors.empty());
      EXPECT_EQ(r.errors.front().rfind("ldic: cannot ", 0), 0u) << r.errors.front();
      if (plan.Count(platform::FileOperation::kRename) <= 1) {
        EXPECT_EQ(FolderContents(out), earlier);
      } else {
        for (const auto& [name, content] : FolderContents(out))
          EXPECT_TRUE(content == earlier.at(name) || content == complete.at(name)) << U8(name);
      }
    }
  }
}

// An output that is the package itself, however spelled, is refused before anything is
// opened, and the package stays as it was.
TEST(DumpAndExport, OutputThatIsThePackageIsRefused) {
  TempDir dir;
  const std::wstring pkg = MakePackage(dir, "a\tb\n", reader_test::kFacts, L"w.idx");
  const std::string bytes = lumo_test::ReadBytes(pkg);
  std::error_code ec;
  std::filesystem::create_hard_link(lumo_test::FsPath(pkg), lumo_test::FsPath(dir.File(L"link.txt")), ec);
  ASSERT_FALSE(ec) << ec.message();
  const std::vector<std::string> cases[] = {
      {"dump", U8(pkg), "-o", U8(pkg)},
      {"dump", U8(pkg), "-o", U8(dir.Path()) + "/./w.idx"},
      {"dump", U8(pkg), "-o", U8(dir.File(L"link.txt"))},
      {"export", U8(pkg), "--stardict", U8(dir.Path())},
  };
  for (const std::vector<std::string>& args : cases) {
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.status, 1) << args.back();
    ASSERT_EQ(r.errors.size(), 1u) << args.back();
    EXPECT_NE(r.errors[0].find(": it is the package itself"), std::string::npos) << r.errors[0];
    EXPECT_EQ(lumo_test::ReadBytes(pkg), bytes);
  }
  EXPECT_EQ(FolderContents(dir).size(), 3u);  // the package, its list and the link
}

TEST(ReadCommands, ExitStatusAndOutput) {
  TempDir dir;
  const std::wstring path = MakePackage(dir, "apple\tred fruit\nApple\tcompany\nbee\tinsect\n");
  const std::string pkg = U8(path);

  CommandResult r = RunCommand({"lookup", pkg, "apple"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "apple\tred fruit\nApple\tcompany\n");
  r = RunCommand({"lookup", pkg, "cherry"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.size(), 1u);
  r = RunCommand({"lookup", pkg});
  EXPECT_EQ(r.status, 2);

  r = RunCommand({"info", pkg});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Name:          Words\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Date:          2024年1月2日\n"), std::string::npos);
  EXPECT_NE(r.out.find("Entries:       3\n"), std::string::npos);
  EXPECT_NE(r.out.find("Explanations:  22 bytes uncompressed\n"), std::string::npos);

  r = RunCommand({"verify", pkg});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, pkg + ": OK\n");

  std::string bytes = lumo_test::ReadBytes(path);
  bytes[bytes.size() - 10] ^= 1;  // the finishing bytes; the file checksum also breaks
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bytes);
  r = RunCommand({"verify", U8(dir.File(L"bad.ldic"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("file checksum mismatch"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("not finished by 03 00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": 2 problems found\n"), std::string::npos) << r.out;

  r = RunCommand({"verify", U8(dir.File(L"none.ldic"))});
  EXPECT_EQ(r.status, 1);
  r = RunCommand({"info", pkg, "--bogus"});
  EXPECT_EQ(r.status, 2);
  r = RunCommand({"export", pkg});
  EXPECT_EQ(r.status, 2);
}

}  // namespace
