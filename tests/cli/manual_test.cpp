// ldic's manual page and bash completion against its parser: every option of every
// command is described and offered, and neither names an option the parser does not know;
// the completion offers the files each argument takes. Natively, where both are used.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/utf.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::TempDir;
using Words = std::set<std::string>;

std::string Join(const Words& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The manual page with roff's escapes for '-' and fonts undone, cut into its sections and
// subsections by heading: "COMMON OPTIONS", "ldic convert", ...
std::map<std::string, std::string> ManualSections() {
  std::string page = lumo_test::ReadBytes(Utf8ToWideText(LDIC_MAN_PAGE));
  page = std::regex_replace(page, std::regex(R"(\\f[BIRP])"), "");
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  std::map<std::string, std::string> sections;
  std::string* section = nullptr;
  std::istringstream lines(page);
  static const std::regex kHeading(R"(^\.S[HS] "?(ldic [a-z]+|[A-Z][A-Z ]*))");
  for (std::string line; std::getline(lines, line);) {
    if (std::smatch heading; std::regex_search(line, heading, kHeading)) {
      section = &sections[heading[1]];
    }
    if (section) *section += line + "\n";
  }
  return sections;
}

// The options a section describes: those named on the line after each ".TP".
Words DescribedOptions(const std::string& section) {
  Words options;
  static const std::regex kOption(R"((^|[ ,])(--?[a-z][a-z-]*))");
  std::istringstream lines(section);
  bool item = false;
  for (std::string line; std::getline(lines, line);) {
    if (item) {
      for (std::sregex_iterator it(line.begin(), line.end(), kOption), end; it != end; ++it)
        options.insert((*it)[2]);
    }
    item = line == ".TP";
  }
  return options;
}

TEST(LdicManual, DescribesEveryOptionOfEveryCommandAndNoOther) {
  const std::map<std::string, std::string> sections = ManualSections();
  ASSERT_TRUE(sections.count("COMMON OPTIONS")) << LDIC_MAN_PAGE;
  const Words common = DescribedOptions(sections.at("COMMON OPTIONS"));
  Words used;
  for (const CommandSyntax& command : DescribeLdicCommands()) {
    const std::string title = command.name.empty() ? "SYNOPSIS" : "ldic " + command.name;
    SCOPED_TRACE(title);
    ASSERT_TRUE(sections.count(title)) << "no section";
    const std::string& section = sections.at(title);
    const Words own = DescribedOptions(section);
    const Words known(command.options.begin(), command.options.end());
    used.insert(known.begin(), known.end());
    for (const std::string& option : known)
      EXPECT_TRUE(own.count(option) || common.count(option)) << option << " is not described";
    if (!command.name.empty()) {
      for (const std::string& option : own)
        EXPECT_TRUE(known.count(option)) << option << " is described but unknown to the parser";
    }
    // The arguments stand in the heading: "ldic lookup PACKAGE WORD".
    const std::string heading = section.substr(0, section.find('\n'));
    for (const std::string& argument : command.arguments)
      EXPECT_NE(heading.find(argument), std::string::npos) << argument << " not in " << heading;
  }
  for (const std::string& option : common)
    EXPECT_TRUE(used.count(option)) << option << " is described but unknown to the parser";
}

// What the completion offers for each of the command lines given (words split as bash
// splits them, the last one being completed), run in folder.
std::vector<Words> Complete(const std::wstring& folder,
                            const std::vector<std::vector<std::string>>& lines) {
  std::string script = "source '" LDIC_COMPLETION "' || exit 1\n";
  for (const std::vector<std::string>& words : lines) {
    script += "COMP_WORDS=(";
    for (const std::string& word : words) script += " '" + word + "'";
    script += " ); COMP_CWORD=" + std::to_string(words.size() - 1) +
              "; _ldic; printf '%s\\t' \"${COMPREPLY[@]}\"; echo\n";
  }
  lumo_test::WriteBytes(folder + L"/complete.sh", script);
  const std::string command = "cd '" + WideToUtf8(folder) + "' && bash --norc complete.sh";
  std::vector<Words> offered;
  if (std::FILE* output = ::popen(command.c_str(), "r")) {
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, output)) > 0;) text.append(buffer, n);
    ::pclose(output);
    std::istringstream results(text);
    for (std::string line; std::getline(results, line);) {
      Words words;
      std::istringstream fields(line);
      for (std::string word; std::getline(fields, word, '\t');)
        if (!word.empty()) words.insert(word);
      offered.push_back(words);
    }
  }
  return offered;
}

TEST(LdicCompletion, OffersEveryCommandAndEveryOptionOfEachAndNoOther) {
  TempDir dir;
  const std::vector<CommandSyntax> commands = DescribeLdicCommands();
  std::vector<std::vector<std::string>> lines = {{"ldic", ""}};
  Words names;
  for (const CommandSyntax& command : commands) {
    if (command.name.empty()) {
      lines.push_back({"ldic", "-"});
    } else {
      names.insert(command.name);
      lines.push_back({"ldic", command.name, "-"});
    }
  }
  const std::vector<Words> offered = Complete(dir.Path(), lines);
  ASSERT_EQ(offered.size(), lines.size());
  EXPECT_EQ(Join(offered[0]), Join(names));
  for (size_t i = 0; i < commands.size(); ++i) {
    const Words known(commands[i].options.begin(), commands[i].options.end());
    EXPECT_EQ(Join(offered[i + 1]), Join(known)) << "ldic " << commands[i].name;
  }
}

TEST(LdicCompletion, OffersTheFilesEachArgumentAndValueTakes) {
  TempDir dir;
  for (const wchar_t* name : {L"a.txt", L"b.csv", L"c.ifo", L"d.mdx", L"e.ldic", L"f.ini",
                              L"g.doc", L"h i.ldic"})
    lumo_test::WriteBytes(dir.File(name), "");
  std::filesystem::create_directory(lumo_test::FsPath(dir.File(L"sub")));
  const struct {
    std::vector<std::string> words;
    std::string offered;  // sorted, space-separated
  } cases[] = {
      {{"ldic", "convert", ""}, "a.txt b.csv c.ifo d.mdx sub"},
      {{"ldic", "convert", "--name", "N", "-q", ""}, "a.txt b.csv c.ifo d.mdx sub"},
      {{"ldic", "convert", "a.txt", ""}, "a.txt b.csv c.ifo d.mdx sub"},  // several, with --out-dir
      {{"ldic", "convert", "a.txt", "--out-dir", ""}, "sub"},
      {{"ldic", "convert", "a.txt", "-o", ""}, "e.ldic h i.ldic sub"},
      {{"ldic", "convert", "a.txt", "--from", "=", "st"}, "stardict"},
      {{"ldic", "convert", "a.txt", "--encoding", "utf-16"}, "utf-16be utf-16le"},
      {{"ldic", "convert", "a.txt", "--duplicates", ""}, "first keep merge"},
      {{"ldic", "convert", "a.txt", "--register", "--ini", ""}, "f.ini sub"},
      {{"ldic", "convert", "--", ""}, "a.txt b.csv c.ifo d.mdx sub"},
      {{"ldic", "info", ""}, "e.ldic h i.ldic sub"},
      {{"ldic", "verify", "e"}, "e.ldic"},
      {{"ldic", "lookup", "e.ldic", ""}, ""},
      {{"ldic", "dump", "e.ldic", "-o", "g"}, "g.doc"},
      {{"ldic", "export", "e.ldic", "--stardict", ""}, "sub"},
      {{"ldic", "register", "--ini", "f.ini", ""}, "e.ldic h i.ldic sub"},
      {{"ldic", "help", "co"}, "convert"},
  };
  std::vector<std::vector<std::string>> lines;
  for (const auto& c : cases) lines.push_back(c.words);
  const std::vector<Words> offered = Complete(dir.Path(), lines);
  ASSERT_EQ(offered.size(), std::size(cases));
  for (size_t i = 0; i < offered.size(); ++i) {
    std::string line;
    for (const std::string& word : cases[i].words) line += word + "|";
    EXPECT_EQ(Join(offered[i]), cases[i].offered) << line;
  }
}

}  // namespace
