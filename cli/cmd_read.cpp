// ldic info, verify, dump, lookup and export: reading packages back.

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "cli/reader_commands.h"
#include "package/package_reader.h"
#include "textio/line_parse.h"
#include "package/stardict_export.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace fs = std::filesystem;

const char kReaderCommandsHelp[] =
    "  info PACKAGE\n"
    "      Shows a package's metadata, entry count, section sizes and compression ratio.\n"
    "      Example: ldic info words.ldic\n"
    "  verify PACKAGE\n"
    "      Checks a package completely (checksum, header, index order, every chunk) and\n"
    "      prints each problem; exit status 1 when there is any.\n"
    "      Example: ldic verify words.ldic\n"
    "  dump PACKAGE [-o FILE]\n"
    "      Writes the entries as a UTF-8 word list (headword TAB explanation), in index\n"
    "      order; 'ldic convert' makes the same package from it again.\n"
    "      Example: ldic dump words.ldic -o words-again.txt\n"
    "  lookup PACKAGE WORD\n"
    "      Prints every entry for WORD: exact matches first, then those differing only in\n"
    "      ASCII letter case. Example: ldic lookup words.ldic apple\n"
    "  export PACKAGE --stardict DIR\n"
    "      Writes a StarDict 2.4.2 dictionary (.ifo, .idx, .dict.dz) into DIR.\n"
    "      Example: ldic export words.ldic --stardict ~/.stardict/dic/words\n";

namespace {

constexpr char kInfoUsage[] =
    "usage: ldic info PACKAGE\n"
    "\n"
    "Shows the package's metadata, its entry count, the sizes of its sections and the\n"
    "compression ratio of its data.\n"
    "Example: ldic info words.ldic\n";

constexpr char kVerifyUsage[] =
    "usage: ldic verify PACKAGE\n"
    "\n"
    "Checks the package completely: the CRC-32 of the file, every header field against the\n"
    "file's length and each other, the metadata, the index records (filling the index\n"
    "exactly, in sort order, with contiguous offsets), the chunk table, each chunk\n"
    "inflating alone to its share, and the data's CRC-32 and size. Prints each problem\n"
    "found; the exit status is 0 for a sound package and 1 otherwise.\n"
    "Example: ldic verify words.ldic\n";

constexpr char kDumpUsage[] =
    "usage: ldic dump PACKAGE [-o FILE]\n"
    "\n"
    "Writes the entries as a word list, one line per entry in index order: the headword,\n"
    "a TAB, the explanation and a line feed, in UTF-8 without a byte-order mark, to FILE\n"
    "or to standard output. Converting it again with the same metadata gives the same\n"
    "package. How fields are written so that conversion reads them back unchanged:\n"
    "  - a headword holding a TAB, a comma or a double quote is put between double\n"
    "    quotes, with one more double quote at its end when it holds an odd number of\n"
    "    them (conversion trims quotes off the ends of a field);\n"
    "  - an explanation is written as it is: TABs, commas and quotes inside it are kept,\n"
    "    since everything after the first separator belongs to it.\n"
    "Some fields cannot be read back unchanged, because conversion trims double quotes,\n"
    "apostrophes, TABs and spaces off both ends of every field and a line ends at a line\n"
    "break: such fields are written as they are (a line break becomes a space, a NUL byte\n"
    "is left out), and ldic reports how many entries were affected.\n"
    "Example: ldic dump words.ldic -o words-again.txt\n";

constexpr char kLookupUsage[] =
    "usage: ldic lookup PACKAGE WORD\n"
    "\n"
    "Prints every entry whose headword is WORD, one line each (headword TAB explanation):\n"
    "first those matching exactly, then those differing only in ASCII letter case.\n"
    "The exit status is 1 when there is none.\n"
    "Example: ldic lookup words.ldic apple\n";

constexpr char kExportUsage[] =
    "usage: ldic export PACKAGE --stardict DIR\n"
    "\n"
    "Writes the package as a StarDict 2.4.2 dictionary into DIR (created if needed):\n"
    "NAME.ifo, NAME.idx and NAME.dict.dz, NAME being the package's file name without its\n"
    "extension. The .dict.dz is a dictzip file, so StarDict readers reach any entry\n"
    "without inflating the whole file.\n"
    "Example: ldic export words.ldic --stardict ~/.stardict/dic/words\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

void Fail(const std::string& message) { PrintError(message.c_str()); }

// Collects the positional arguments and the options that take a value; false (after
// printing why) on anything else. A "--help" prints usage and sets *help.
bool ParseArguments(int argc, char** argv, const char* usage,
                    const std::vector<std::string>& valueOptions, size_t positionalCount,
                    std::vector<std::string>* positional,
                    std::vector<std::pair<std::string, std::string>>* options, bool* help) {
  *help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (IsHelp(argv[i])) {
      std::fputs(usage, stdout);
      *help = true;
      return true;
    }
    bool isOption = false;
    for (const std::string& name : valueOptions) {
      if (arg == name) {
        if (i + 1 >= argc) {
          Fail(std::string(argv[0]) + ": " + arg + " needs a value");
          return false;
        }
        options->emplace_back(arg, argv[++i]);
        isOption = true;
      }
    }
    if (isOption) continue;
    if (arg.size() > 1 && arg[0] == '-') {
      Fail(std::string(argv[0]) + ": unknown option '" + arg + "' (see ldic " + argv[0] +
           " --help)");
      return false;
    }
    positional->push_back(arg);
  }
  if (positional->size() != positionalCount) {
    std::fputs(usage, stderr);
    return false;
  }
  return true;
}

// Opens the package named on the command line; prints the first problem when it fails.
bool OpenPackage(const std::string& pathUtf8, CPackageReader* reader) {
  if (reader->Open(PathToWide(PathFromUtf8(pathUtf8)))) return true;
  const PackageProblem& first = reader->Problems().front();
  std::string message = pathUtf8 + ": " + DescribeProblem(first);
  if (first.error != PackageError::kOpenFailed) message += " (see ldic verify)";
  Fail(message);
  return false;
}

bool WriteOut(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;
  if (!ParseArguments(argc, argv, kInfoUsage, {}, 1, &args, &options, &help)) return 2;
  if (help) return 0;
  CPackageReader reader;
  if (!OpenPackage(args[0], &reader)) return 2;

  const PackageHeader& h = reader.Header();
  std::string out;
  char line[256];
  auto add = [&out](const char* label, const std::string& value) {
    out += label;
    out += value;
    out += '\n';
  };
  add("Package:       ", args[0] + " (" + std::to_string(reader.FileLength()) + " bytes)");
  const struct {
    const char* key;
    const char* label;
  } kKnown[] = {{"N", "Name:          "},    {"A", "Author:        "},
                {"Lumo", "Lumo number:   "}, {"V", "Version:       "},
                {"DP", "Date:          "}};
  for (const auto& known : kKnown) {
    for (const auto& [key, value] : reader.Metadata()) {
      if (key == known.key) add(known.label, value);
    }
  }
  for (const auto& [key, value] : reader.Metadata()) {
    bool isKnown = false;
    for (const auto& known : kKnown) isKnown = isKnown || key == known.key;
    if (!isKnown) add("Metadata:      ", key + "=" + value);
  }
  add("Entries:       ", std::to_string(reader.EntryCount()));
  add("Format:        ", "version " + std::to_string(h.formatVersion) +
                             (reader.IsCompressed() ? ", compressed" : ", uncompressed"));
  add("Metadata:      ", std::to_string(h.indexOffset - kPackageHeaderSize) + " bytes at offset " +
                            std::to_string(kPackageHeaderSize));
  add("Index:         ", std::to_string(h.indexSize) + " bytes at offset " +
                             std::to_string(h.indexOffset));
  add("Data:          ", std::to_string(h.dataSize) + " bytes at offset " +
                             std::to_string(h.dataOffset));
  add("Explanations:  ", std::to_string(reader.DataLength()) + " bytes uncompressed");
  if (reader.IsCompressed()) {
    add("Chunks:        ", std::to_string(reader.ChunkCount()) + " of " +
                               std::to_string(reader.ChunkLength()) + " bytes");
    if (reader.DataLength() > 0) {
      std::snprintf(line, sizeof line, "%.1f%% (%" PRIu32 " of %" PRIu64 " bytes)",
                    100.0 * h.dataSize / static_cast<double>(reader.DataLength()), h.dataSize,
                    reader.DataLength());
      add("Compression:   ", line);
    }
  }
  std::snprintf(line, sizeof line, "0x%08" PRIX32, h.checksum);
  add("Checksum:      ", line);
  return WriteOut(stdout, out) ? 0 : 2;
}

int RunVerifyCommand(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;
  if (!ParseArguments(argc, argv, kVerifyUsage, {}, 1, &args, &options, &help)) return 2;
  if (help) return 0;
  const std::vector<PackageProblem> problems = VerifyPackage(PathToWide(PathFromUtf8(args[0])));
  if (!problems.empty() && problems.front().error == PackageError::kOpenFailed) {
    Fail(args[0] + ": " + PackageErrorText(PackageError::kOpenFailed));
    return 2;
  }
  for (const PackageProblem& problem : problems) {
    std::printf("%s: %s\n", args[0].c_str(), DescribeProblem(problem).c_str());
  }
  if (problems.empty()) {
    std::printf("%s: OK\n", args[0].c_str());
    return 0;
  }
  std::printf("%s: %zu problem%s found\n", args[0].c_str(), problems.size(),
              problems.size() == 1 ? "" : "s");
  return 1;
}

int RunDumpCommand(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;
  if (!ParseArguments(argc, argv, kDumpUsage, {"-o"}, 1, &args, &options, &help)) return 2;
  if (help) return 0;
  CPackageReader reader;
  if (!OpenPackage(args[0], &reader)) return 2;

  std::wstring outPath;
  platform::CBinaryFile outFile;
  if (!options.empty()) {
    outPath = PathToWide(PathFromUtf8(options.back().second));
    if (!outFile.Open(outPath, platform::CBinaryFile::Mode::kCreateWrite)) {
      Fail("cannot create " + options.back().second);
      return 2;
    }
  }
  // A failed dump leaves no partial word list behind.
  auto abandon = [&](const std::string& message) {
    Fail(message);
    if (outFile.IsOpen()) {
      outFile.Close();
      platform::RemoveFile(outPath);
    }
    return 2;
  };

  std::string buffer, explanation, line;
  size_t changed = 0, firstChanged = 0;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const PackageError error = reader.ReadExplanation(i, &explanation);
    if (error != PackageError::kNone) {
      return abandon(args[0] + ": entry " + std::to_string(i) + ": " + PackageErrorText(error));
    }
    if (!FormatWordListLine(reader.Headword(i), explanation, &line) && changed++ == 0) {
      firstChanged = i;
    }
    buffer += line;
    buffer += '\n';
    if (buffer.size() >= (1u << 20) || i + 1 == reader.EntryCount()) {
      const bool written = outFile.IsOpen() ? outFile.Write(buffer.data(), buffer.size())
                                            : WriteOut(stdout, buffer);
      if (!written) return abandon("cannot write the word list");
      buffer.clear();
    }
  }
  if (outFile.IsOpen() && !outFile.Close()) return abandon("cannot write the word list");
  if (!outFile.IsOpen() && std::fflush(stdout) != 0) {
    Fail("cannot write the word list");
    return 2;
  }
  if (changed > 0) {
    std::string word(reader.Headword(firstChanged).substr(0, 60));
    Fail("warning: " + std::to_string(changed) +
         " entries cannot be written so that conversion reads them back unchanged "
         "(the first is \"" + word + "\"; see ldic dump --help)");
  }
  return 0;
}

int RunLookupCommand(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;
  if (!ParseArguments(argc, argv, kLookupUsage, {}, 2, &args, &options, &help)) return 2;
  if (help) return 0;
  CPackageReader reader;
  if (!OpenPackage(args[0], &reader)) return 2;

  const std::vector<size_t> found = reader.Lookup(args[1]);
  if (found.empty()) {
    Fail("no entry for \"" + args[1] + "\"");
    return 1;
  }
  std::string out, explanation;
  for (size_t entry : found) {
    const PackageError error = reader.ReadExplanation(entry, &explanation);
    if (error != PackageError::kNone) {
      WriteOut(stdout, out);
      Fail(args[0] + ": " + PackageErrorText(error));
      return 2;
    }
    out.append(reader.Headword(entry));
    out += '\t';
    out += explanation;
    out += '\n';
  }
  return WriteOut(stdout, out) ? 0 : 2;
}

int RunExportCommand(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> options;
  bool help = false;
  if (!ParseArguments(argc, argv, kExportUsage, {"--stardict"}, 1, &args, &options, &help)) {
    return 2;
  }
  if (help) return 0;
  if (options.empty()) {
    Fail("export: say where to with --stardict DIR");
    return 2;
  }
  CPackageReader reader;
  if (!OpenPackage(args[0], &reader)) return 2;

  const fs::path folder = PathFromUtf8(options.back().second);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    Fail("cannot create the folder " + options.back().second);
    return 2;
  }
  const std::wstring baseName = PathToWide(PathFromUtf8(args[0]).stem());
  switch (ExportStarDict(reader, PathToWide(folder), baseName)) {
    case StarDictExportResult::kDone:
      return 0;
    case StarDictExportResult::kPackageDamaged:
      Fail(args[0] + ": the package is damaged (see ldic verify)");
      return 2;
    case StarDictExportResult::kTooLarge:
      Fail(args[0] + ": too much data for one dictzip file");
      return 2;
    case StarDictExportResult::kWriteFailed:
      Fail("cannot write the StarDict files in " + options.back().second);
      return 2;
  }
  return 2;
}
