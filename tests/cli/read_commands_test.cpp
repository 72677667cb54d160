// ldic info, verify, dump and lookup, run in-process; the dump's line format and the
// round trip from a package to a word list and back to the same package.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "package/package_reader.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "textio/line_parse.h"
#include "tests/package/reader_fixtures.h"
#include "tests/stardict/stardict_fixtures.h"
#include "tests/support/host_fixtures.h"

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

TEST(WordListLine, ReadsBackExactlyOrSaysHow) {
  constexpr LineFidelity kExact = LineFidelity::kExact, kEscaped = LineFidelity::kEscaped,
                         kChanged = LineFidelity::kChanged;
  struct Case {
    std::string headword, explanation, line;
    LineFidelity fidelity;
  };
  const Case cases[] = {
      {"apple", "red fruit", "apple\tred fruit", kExact},
      {"New York, NY", "city", "\"New York, NY\"\tcity", kExact},
      {"tab\there", "x", "\"tab\there\"\tx", kExact},
      {"say \"hi\" now", "x", "say \"hi\" now\tx", kExact},
      {"a\"b", "x", "a\"b\"\tx", kExact},          // an odd quote is closed after the word
      {"a,\"b", "x", "\"a,\"b\"\"\tx", kExact},
      {"w", "one, two\tthree \"q\" end", "w\tone, two\tthree \"q\" end", kExact},
      {"苹果", "水果", "苹果\t水果", kExact},
      {"empty", "", "empty\t", kExact},
      {"it's", "x", "it's\tx", kExact},
      // A backslash that begins no escape stays as it is, also at the end.
      {"path", "C:\\dir\\x\\", "path\tC:\\dir\\x\\", kExact},
      {"\\n", "newline", "\\n\tnewline", kExact},  // headwords are never unescaped
      // What only --unescape reads back: line breaks, TABs at the ends, and backslashes
      // that would begin an escape.
      {"w", "two\nlines\r\nand CR LF", "w\ttwo\\nlines\\r\\nand CR LF", kEscaped},
      {"w", "\tindented\t", "w\t\\tindented\\t", kEscaped},
      {"w", "a\\nb \\\\ c\\\n", "w\ta\\\\nb \\\\\\ c\\\\\\n", kEscaped},
      {" padded", "x", " padded\tx", kChanged},     // trimming takes the blank
      {"w", "'quoted'", "w\t'quoted'", kChanged},
      {"two\nlines", "x", "two\\nlines\tx", kChanged},
      {"w", std::string("nul\0byte", 8), "w\tnulbyte", kChanged},
      {"w", "bad \xFF byte", "w\tbad \xFF byte", kChanged},
      {"", "no headword", "\tno headword", kChanged},
  };
  for (const Case& c : cases) {
    std::string line;
    EXPECT_EQ(FormatWordListLine(c.headword, c.explanation, &line), c.fidelity) << c.headword << " | " << c.explanation;
    EXPECT_EQ(line, c.line) << c.headword << " | " << c.explanation;
  }
}

TEST(DumpCommand, ConvertingTheDumpGivesTheSamePackage) {
  std::string list =
      "bee\tinsect\napple,red fruit\n\"New York, NY\",city\n苹果\t水果\nempty\t\n"
      "Apple\tcompany\napple\tsecond apple\nAPPLE\tshouting\nsay \"hi\" now\tgreeting\n"
      "tab list\tone\ttwo, three\n";
  list += "long\t" + reader_test::Prose(130000, 9) + "\n";
  const std::string bom = "\xEF\xBB\xBF";
  // The first headword in index order begins with U+FEFF: the dump must not let it pass
  // for a byte-order mark. With a mark of the list's own before it, and without.
  const std::string lists[] = {list, bom + bom + "\xEF\xBB\xBFzwnbsp\tfirst\n\xEF\xBC\xA1\tsecond\n",
                               "\xEF\xBB\xBF\xEF\xBB\xBF\tdouble\n"};
  for (const std::string& source : lists) {
    TempDir dir;
    const std::wstring first = MakePackage(dir, source, reader_test::kFacts, L"first.ldic");
    const CommandResult dump = RunCommand({"dump", U8(first), "-o", U8(dir.File(L"dump.txt"))});
    ASSERT_EQ(dump.status, 0);
    EXPECT_TRUE(dump.errors.empty()) << dump.errors.front();
    EXPECT_EQ(dump.out, "");

    const std::string again = lumo_test::ReadBytes(dir.File(L"dump.txt"));
    const std::wstring second = MakePackage(dir, again, reader_test::kFacts, L"second.ldic");
    EXPECT_TRUE(lumo_test::ReadBytes(first) == lumo_test::ReadBytes(second)) << again.substr(0, 40);
    // Standard output gets the same bytes.
    EXPECT_EQ(RunCommand({"dump", U8(first)}).out, again);
    if (&source == &lists[0]) {
      EXPECT_EQ(again.substr(0, 75),
                "APPLE\tshouting\nApple\tcompany\napple\tred fruit\napple\tsecond apple\nbee\tinsect\n");
      EXPECT_NE(again.find("\n\"New York, NY\"\tcity\n"), std::string::npos);
    } else {
      EXPECT_EQ(again.substr(0, 6), bom + bom);
    }
  }
}

// A dump read back with --unescape gives the very package it came from, byte for byte, with
// the same facts: from every word list of the fuzz corpus, from a dictionary StarDict's
// tabfile made, and from a dictionary whose explanations hold line breaks, CR LF, TABs at
// their ends and backslashes. A dump that needed no escape converts the same without it.
TEST(DumpCommand, UnescapingTheDumpGivesTheSamePackage) {
  TempDir dir;
  std::vector<std::wstring> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(Utf8ToWideText(LDIC_WORD_LIST_CORPUS))))
    inputs.push_back(lumo_test::WidePath(entry.path()));
  std::sort(inputs.begin(), inputs.end());
  inputs.push_back(host_test::FixturePath(L"tabfile-dict.ifo"));
  const std::wstring broken = stardict_test::WriteDictionary(
      dir,
      {{"apple", {{'m', "red\nround\r\nfruit\n"}}},
       {"indented", {{'m', "\tone\n\ttwo\t"}}},
       {"path", {{'m', "C:\\new\\table \\\\ \\x end\\"}}},
       {"plain", {{'m', "nothing to escape"}}}},
      {});
  inputs.push_back(broken);
  const std::vector<std::string> facts = {"--name", "N", "--author", "A", "--date", "D", "-q"};
  const auto convert = [&](const std::wstring& from, const wchar_t* to, bool unescape) {
    std::vector<std::string> args = {"convert", U8(from), "-o", U8(dir.File(to))};
    args.insert(args.end(), facts.begin(), facts.end());
    if (unescape) args.push_back("--unescape");
    return RunCommand(args).status;
  };
  for (const std::wstring& input : inputs) {
    SCOPED_TRACE(U8(input));
    if (input.ends_with(L"empty.txt")) continue;  // gives no package
    ASSERT_EQ(convert(input, L"first.ldic", false), 0);
    const CommandResult dump = RunCommand({"dump", U8(dir.File(L"first.ldic")), "-o", U8(dir.File(L"d.txt"))});
    ASSERT_EQ(dump.status, 0);
    const bool escaped = !dump.errors.empty() && dump.errors[0].find("--unescape") != std::string::npos;
    EXPECT_EQ(escaped, input == broken || input.find(L"escapes") != std::wstring::npos);
    ASSERT_EQ(convert(dir.File(L"d.txt"), L"unescaped.ldic", true), 0);
    ASSERT_EQ(convert(dir.File(L"d.txt"), L"plain.ldic", false), 0);
    const std::string first = lumo_test::ReadBytes(dir.File(L"first.ldic"));
    EXPECT_TRUE(lumo_test::ReadBytes(dir.File(L"unescaped.ldic")) == first);
    EXPECT_EQ(lumo_test::ReadBytes(dir.File(L"plain.ldic")) == first, !escaped);
  }
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

// The files under a folder, folders included ("name/"), and their bytes.
std::map<std::wstring, std::string> TreeContents(const std::wstring& root) {
  std::map<std::wstring, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(lumo_test::FsPath(root))) {
    std::wstring name = lumo_test::WidePath(entry.path().lexically_relative(lumo_test::FsPath(root)));
    for (wchar_t& c : name)
      if (c == L'\\') c = L'/';
    if (entry.is_directory())
      files[name + L"/"] = "";
    else
      files[name] = lumo_test::ReadBytes(lumo_test::WidePath(entry.path()));
  }
  return files;
}

// dump -o FILE and export replace their files only when complete: whichever file operation
// fails (each one in turn, with each fault; and a disk that fills up at several points),
// the command fails with a message that says why (a full disk as such), or succeeds in
// whole. A failed dump leaves the folder as it was. A failed export leaves the earlier
// export, or at most (after a rename of its own failed half way) no .ifo, never the .ifo
// of one with the files of the other; a folder it created is gone, and whatever it could
// not remove is removed by the next export, which gives the complete export alone.
TEST(DumpAndExport, AFailureLeavesTheEarlierFilesAsTheyWere) {
  TempDir dir;
  const std::string pkg = U8(MakePackage(dir, "bee\tinsect\nlong\t" + reader_test::Prose(60000, 3) + "\n"));
  const std::map<std::wstring, std::string> earlierExport = {
      {L"sd/", ""}, {L"sd/w.dict.dz", "earlier data"}, {L"sd/w.idx", "earlier index"}, {L"sd/w.ifo", "earlier"}};
  struct Case {
    const char* label;
    std::map<std::wstring, std::string> earlier;
    std::vector<std::string> args;  // {out} is the folder
  };
  const Case cases[] = {
      {"dump", {{L"w.txt", "an earlier list"}}, {"dump", pkg, "-o", "{out}/w.txt"}},
      {"export over an earlier one", earlierExport, {"export", pkg, "--stardict", "{out}/sd"}},
#ifndef _WIN32  // on Windows every export into an existing folder goes file by file
      {"export beside the user's file", {{L"sd/", ""}, {L"sd/w.ifo", "earlier"}, {L"sd/mine", "x"}},
       {"export", pkg, "--stardict", "{out}/sd"}},
#endif
      {"export into new folders", {}, {"export", pkg, "--stardict", "{out}/a/b/sd"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir out;
    std::vector<std::string> args;
    for (std::string arg : c.args) {
      if (arg.starts_with("{out}")) arg = U8(out.Path()) + arg.substr(5);
      args.push_back(arg);
    }
    const auto restore = [&] {
      std::filesystem::remove_all(lumo_test::FsPath(out.Path()));
      std::filesystem::create_directory(lumo_test::FsPath(out.Path()));
      for (const auto& [name, bytes] : c.earlier) {
        if (name.ends_with(L"/"))
          std::filesystem::create_directories(lumo_test::FsPath(out.File(name.substr(0, name.size() - 1))));
        else
          lumo_test::WriteBytes(out.File(name), bytes);
      }
    };
    restore();
    platform::CFaultPlan counting(out.Path());
    {
      platform::CScopedFaultPlan installed(&counting);
      ASSERT_EQ(RunCommand(args).status, 0);
    }
    const std::map<std::wstring, std::string> complete = TreeContents(out.Path());
    const int64_t operations = counting.Count(platform::FileOperation::kAny);
    std::vector<std::function<void(platform::CFaultPlan&)>> faults;
    for (const platform::Fault fault : lumo_test::kEveryFault) {
#ifdef _WIN32
      // Under Wine every run is slow: the export's failures take the two faults whose
      // messages differ, the dump's all of them.
      if (args[0] == "export" && fault != platform::Fault::kDiskFull && fault != platform::Fault::kIoError)
        continue;
#endif
      for (int64_t n = 1; n <= operations; ++n)
        faults.push_back([n, fault](platform::CFaultPlan& plan) {
          plan.FailAt(platform::FileOperation::kAny, n, fault);
        });
    }
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
      const std::map<std::wstring, std::string> after = TreeContents(out.Path());
      if (r.status == 0) {
        for (const auto& [name, bytes] : complete) EXPECT_EQ(after.at(name), bytes) << U8(name);
      } else {
        EXPECT_EQ(r.status, 1);
        ASSERT_FALSE(r.errors.empty());
        const bool full = r.errors.front().rfind(std::string("ldic: ") + UserMessageUtf8(UserMessage::kDiskFull), 0) == 0;
        EXPECT_TRUE(r.errors.front().rfind("ldic: cannot ", 0) == 0 || full) << r.errors.front();
        if (full) {
          EXPECT_NE(r.errors.front().find(" \u2014 "), std::string::npos) << "no file named";
        }
        if (args[0] == "dump") {
          EXPECT_EQ(after, c.earlier);
        }
        if (args[0] == "export" && after.contains(L"sd/w.ifo")) {
          const auto& from = after.at(L"sd/w.ifo") == complete.at(L"sd/w.ifo") ? complete : c.earlier;
          for (const wchar_t* name : {L"sd/w.ifo", L"sd/w.idx", L"sd/w.dict.dz"})
            EXPECT_EQ(after.contains(name) ? after.at(name) : "-", from.contains(name) ? from.at(name) : "-")
                << U8(name);
        }
        if (c.earlier.empty()) {
          EXPECT_TRUE(after.empty()) << U8(after.begin()->first);
        }
      }
      if (args[0] == "export") {
        ASSERT_EQ(RunCommand(args).status, 0);
        EXPECT_EQ(TreeContents(out.Path()), complete);
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

// Every byte of a small package changed, a few ways each: dump, lookup and export never
// succeed with text other than the sound package's, and --force never succeeds at all.
TEST(ReadCommands, NoChangedByteGoesUnnoticed) {
  TempDir dir;
  const std::wstring path = MakePackage(dir, "apple\tred fruit\nbee\tinsect\ncat\tanimal\n");
  const std::string sound = lumo_test::ReadBytes(path);
  const std::string damaged = U8(dir.File(L"d.ldic"));
  const std::string exportTo = U8(dir.File(L"sd"));
  std::map<std::string, CommandResult> expected;
  const std::vector<std::vector<std::string>> commands = {
      {"dump", damaged}, {"lookup", damaged, "bee"}, {"dump", damaged, "--force"}};
  const auto exported = [&] {
    std::map<std::wstring, std::string> files;
    for (const wchar_t* name : {L"d.ifo", L"d.idx", L"d.dict.dz"})
      files[name] = lumo_test::ReadBytes(dir.File(L"sd") + platform::kPathSeparator + name);
    return files;
  };
  lumo_test::WriteBytes(dir.File(L"d.ldic"), sound);
  for (const auto& args : commands) expected[args[0] + args.back()] = RunCommand(args);
  ASSERT_EQ(RunCommand({"export", damaged, "--stardict", exportTo}).status, 0);
  const std::map<std::wstring, std::string> soundExport = exported();
#ifdef _WIN32
  // Under Wine every run is slow: one change of every byte, --force and the export at
  // every eighth.
  const std::vector<unsigned char> flips = {0x01};
  constexpr size_t kSparseEvery = 8;
#else
  const std::vector<unsigned char> flips = {0x01, 0xFF};
  constexpr size_t kSparseEvery = 1;
#endif
  int refused = 0, runs = 0;
  for (size_t at = 0; at < sound.size(); ++at) {
    for (const unsigned char flip : flips) {
      std::string bytes = sound;
      bytes[at] = static_cast<char>(bytes[at] ^ flip);
      lumo_test::WriteBytes(dir.File(L"d.ldic"), bytes);
      for (const auto& args : commands) {
        if ((flip != 0x01 || at % kSparseEvery != 0) && args.back() == "--force") continue;
        ++runs;
        const CommandResult r = RunCommand(args);
        if (r.status != 0) {
          ++refused;
          continue;
        }
        EXPECT_NE(args.back(), "--force") << "byte " << at;
        EXPECT_EQ(r.out, expected[args[0] + args.back()].out) << args[0] << " " << args.back() << ", byte " << at;
      }
      // One way for the export, which writes three files.
      if (flip != 0x01 || at % kSparseEvery != 0) continue;
      std::filesystem::remove_all(lumo_test::FsPath(dir.File(L"sd")));
      ++runs;
      if (RunCommand({"export", damaged, "--stardict", exportTo}).status == 0) {
        EXPECT_EQ(exported(), soundExport) << "byte " << at;
      } else {
        ++refused;
      }
    }
  }
  // The file's CRC-32 catches any one changed byte, so every run was refused.
  EXPECT_EQ(refused, runs);
}

// What a damaged package gives: dump and export refuse it with the damaged-package
// message and write nothing; with --force they write what can be read, say what could
// not be, and still exit with status 1; info tells that the checksum does not match.
TEST(ReadCommands, ADamagedPackageIsToldAsSuch) {
  TempDir dir;
  std::string bytes = lumo_test::ReadBytes(MakePackage(
      dir, "a\tfirst\nlong\t" + reader_test::Prose(70000, 5) + "\nz\tlast\n"));
  const uint32_t dataOffset = lumo_test::Le32(bytes, 16);
  const uint32_t chunk2 = dataOffset + 8 + lumo_test::Le16(bytes, dataOffset + 4);
  bytes.replace(chunk2 + 6, 3, 3, '\xFF');  // the second of two chunks
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bytes);
  const std::string bad = U8(dir.File(L"bad.ldic"));
  const std::string damagedLine = std::string("ldic: ") + UserMessageUtf8(UserMessage::kPackageDamaged) +
                                  " \u2014 " + bad + ": file checksum mismatch";

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"dump", bad, "-o", U8(dir.File(L"out.txt"))},
        {"export", bad, "--stardict", U8(dir.File(L"sd"))}, {"lookup", bad, "a"}}) {
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.status, 1) << args[0];
    ASSERT_FALSE(r.errors.empty());
    EXPECT_EQ(r.errors[0].rfind(damagedLine, 0), 0u) << r.errors[0];
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(lumo_test::FileExists(dir.File(L"out.txt")));
  EXPECT_FALSE(std::filesystem::exists(lumo_test::FsPath(dir.File(L"sd"))));

  CommandResult r = RunCommand({"dump", bad, "--force"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "a\tfirst\n");
  ASSERT_EQ(r.errors.size(), 2u);  // the warning, and what was left out
  EXPECT_NE(r.errors[1].find("2 of 3 entries could not be read and were left out (\"long\", \"z\""),
            std::string::npos) << r.errors[1];
  r = RunCommand({"export", bad, "--stardict", U8(dir.File(L"sd")), "--force"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(lumo_test::ReadBytes(dir.File(L"sd") + platform::kPathSeparator + L"bad.ifo").find("wordcount=1\n"),
            std::string::npos);
  r = RunCommand({"info", bad});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("(does not match the file: the package is damaged"), std::string::npos) << r.out;
}

// A JSON document's values by their path ("facts.name", "metadata.0.key"), each with its
// kind: 's' string (unescaped), 'n' number, 'b' true or false, 'z' null, 'o' object, 'a'
// array. Empty when the text is not one JSON value as RFC 8259 has it, or not UTF-8.
using JsonValues = std::map<std::string, std::pair<char, std::string>>;

class CJsonReader {
 public:
  static JsonValues Read(std::string_view text) {
    CJsonReader reader(text);
    if (!reader.Value("") || (reader.Blank(), reader.m_at != text.size()) || !IsValidUtf8(text)) return {};
    return reader.m_values;
  }

 private:
  explicit CJsonReader(std::string_view text) : m_text(text) {}

  void Blank() {
    while (m_at < m_text.size() && std::string_view(" \t\r\n").find(m_text[m_at]) != std::string_view::npos) ++m_at;
  }
  bool Take(char c) {
    Blank();
    if (m_at >= m_text.size() || m_text[m_at] != c) return false;
    ++m_at;
    return true;
  }
  static std::string Child(const std::string& path, const std::string& name) {
    return path.empty() ? name : path + "." + name;
  }

  bool Value(const std::string& path) {
    Blank();
    if (m_at >= m_text.size()) return false;
    const char c = m_text[m_at];
    if (c == '{' || c == '[') {
      ++m_at;
      m_values[path] = {c == '{' ? 'o' : 'a', ""};
      const char close = c == '{' ? '}' : ']';
      if (Take(close)) return true;
      for (size_t index = 0;; ++index) {
        std::string name = std::to_string(index);
        if (c == '{' && !(Take('"') && String(&name) && Take(':'))) return false;
        if (!Value(Child(path, name))) return false;
        if (Take(close)) return true;
        if (!Take(',')) return false;
      }
    }
    if (c == '"') {
      ++m_at;
      std::string text;
      if (!String(&text)) return false;
      m_values[path] = {'s', text};
      return true;
    }
    for (const auto& [word, kind] : {std::pair{"true", 'b'}, {"false", 'b'}, {"null", 'z'}}) {
      if (m_text.substr(m_at).starts_with(word)) {
        m_at += std::string_view(word).size();
        m_values[path] = {kind, word};
        return true;
      }
    }
    static const std::regex kNumber(R"(^-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    std::match_results<std::string_view::const_iterator> number;
    if (!std::regex_search(m_text.begin() + m_at, m_text.end(), number, kNumber)) return false;
    m_values[path] = {'n', number.str()};
    m_at += number.length();
    return true;
  }

  // The rest of a string whose opening quote was taken.
  bool String(std::string* out) {
    out->clear();
    while (m_at < m_text.size()) {
      const char c = m_text[m_at++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (m_at >= m_text.size()) return false;
      const char escape = m_text[m_at++];
      const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      if (const size_t at = simple.find(escape); at != std::string_view::npos) {
        out->push_back(meant[at]);
      } else if (escape == 'u' && m_at + 4 <= m_text.size()) {
        const unsigned unit = std::stoul(std::string(m_text.substr(m_at, 4)), nullptr, 16);
        m_at += 4;
        if (unit >= 0xD800 && unit < 0xE000) return false;  // info writes no surrogates
        AppendUtf8(out, unit);
      } else {
        return false;
      }
    }
    return false;
  }

  std::string_view m_text;
  size_t m_at = 0;
  JsonValues m_values;
};

// info --json: one JSON object holding what info shows, strings escaped, numbers as
// numbers, facts not stored as null; a damaged package says so.
TEST(ReadCommands, InfoAsJson) {
  TempDir dir;
  const PackageFacts facts{L"Say \"hi\" \\ 你好", L"tab\there\x01", L"", L"2.0", L"D"};
  const std::wstring path = MakePackage(dir, "apple\tred fruit\nbee\tinsect\ncat\tanimal\n", facts);
  const std::string bytes = lumo_test::ReadBytes(path);
  CommandResult r = RunCommand({"info", "--json", U8(path)});
  EXPECT_EQ(r.status, 0);
  ASSERT_TRUE(r.out.ends_with("}\n")) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  JsonValues json = CJsonReader::Read(r.out);
  ASSERT_FALSE(json.empty()) << "not JSON: " << r.out;
  const std::pair<std::string, std::pair<char, std::string>> expected[] = {
      {"package", {'s', U8(path)}},
      {"file_size", {'n', std::to_string(bytes.size())}},
      {"header.entry_count", {'n', "3"}},
      {"header.index_offset", {'n', std::to_string(lumo_test::Le32(bytes, 8))}},
      {"header.checksum", {'n', std::to_string(lumo_test::Le32(bytes, 28))}},
      {"facts.name", {'s', "Say \"hi\" \\ 你好"}},
      {"facts.author", {'s', "tab\there\x01"}},
      {"facts.lumo", {'z', "null"}},
      {"facts.version", {'s', "2.0"}},
      {"metadata.0.key", {'s', "N"}},
      {"metadata.3.value", {'s', "D"}},
      {"entries", {'n', "3"}},
      {"explanation_bytes", {'n', "21"}},
      {"chunks", {'n', "1"}},
      {"checksum_ok", {'b', "true"}},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(json[key], value) << key;
  EXPECT_EQ(json["compression_ratio"].first, 'n');
  EXPECT_FALSE(json.contains("metadata.4"));  // lumo is not stored

  std::string bad = bytes;
  bad[bad.size() - 10] ^= 1;
  lumo_test::WriteBytes(dir.File(L"bad.ldic"), bad);
  r = RunCommand({"info", "--json", U8(dir.File(L"bad.ldic"))});
  EXPECT_EQ(r.status, 0);
  json = CJsonReader::Read(r.out);
  EXPECT_EQ(json["checksum_ok"], (std::pair<char, std::string>{'b', "false"})) << r.out;
  EXPECT_EQ(RunCommand({"info", "--json", "-q", U8(path)}).out, "");
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
