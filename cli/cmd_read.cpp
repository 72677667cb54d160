// ldic info, verify, dump, lookup and export: reading packages back. What they find is
// told in English; a failure ends with exit status 1.

#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <system_error>
#include <vector>

#include "cli/cli_output.h"
#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "package/package_reader.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "stardict/stardict_export.h"
#include "textio/line_parse.h"

namespace fs = std::filesystem;

namespace {

constexpr char kInfoDescription[] = "show a package's metadata, entry count and section sizes";
constexpr char kInfoFooter[] =
    "Shows the package's metadata, its entry count, the sizes of its sections and the\n"
    "compression ratio of its data.\n"
    "Example: ldic info words.ldic";

constexpr char kVerifyDescription[] = "check a package completely and print each problem";
constexpr char kVerifyFooter[] =
    "Checks the CRC-32 of the file, every header field against the file's length and each\n"
    "other, the metadata, the index records (filling the index exactly, in sort order,\n"
    "with contiguous offsets), the chunk table, each chunk inflating alone to its share,\n"
    "and the data's CRC-32 and size. The exit status is 0 for a sound package and 1\n"
    "otherwise.\n"
    "Example: ldic verify words.ldic";

constexpr char kDumpDescription[] = "write a package's entries as a UTF-8 word list";
constexpr char kDumpFooter[] =
    "One line per entry in index order: the headword, a TAB, the explanation and a line\n"
    "feed, in UTF-8 without a byte-order mark, to FILE or to standard output. Converting\n"
    "it again with the same metadata gives the same package. How fields are written so\n"
    "that conversion reads them back unchanged:\n"
    "  - a headword holding a TAB, a comma or a double quote is put between double\n"
    "    quotes, with one more double quote at its end when it holds an odd number of\n"
    "    them (conversion trims quotes off the ends of a field);\n"
    "  - an explanation is written as it is: TABs, commas and quotes inside it are kept,\n"
    "    since everything after the first separator belongs to it.\n"
    "Some fields cannot be read back unchanged, because conversion trims double quotes,\n"
    "apostrophes, TABs and spaces off both ends of every field and a line ends at a line\n"
    "break: such fields are written as they are (a line break becomes the two characters\n"
    "\\n, a CR \\r, a NUL byte is left out), and ldic reports how many entries were\n"
    "affected (not with -q).\n"
    "An existing FILE is replaced only once the whole list is written; FILE cannot be the\n"
    "package itself.\n"
    "Example: ldic dump words.ldic -o words-again.txt";

constexpr char kLookupDescription[] = "print the entries for a headword";
constexpr char kLookupFooter[] =
    "Prints every entry whose headword is WORD, one line each (headword TAB explanation):\n"
    "first those matching exactly, then those differing only in ASCII letter case. The\n"
    "exit status is 1 when there is none.\n"
    "Example: ldic lookup words.ldic apple";

constexpr char kExportDescription[] = "write a package as a StarDict 2.4.2 dictionary";
constexpr char kExportFooter[] =
    "Writes the dictionary into DIR, created if needed: NAME.ifo, NAME.idx and\n"
    "NAME.dict.dz, NAME being the package's file name without its extension. The .dict.dz\n"
    "is a dictzip file, so StarDict readers reach any entry without inflating the whole\n"
    "file. Earlier files of those names are replaced only once all three are written.\n"
    "Example: ldic export words.ldic --stardict ~/.stardict/dic/words";

// The package every reading command opens: its first argument.
void AddPackageArgument(CLI::App& command, std::string* package) {
  command.add_option("PACKAGE", *package, "the package (.ldic)")->required();
}

// Opens the package named on the command line; prints the first problem when it fails.
bool OpenPackage(const std::string& pathUtf8, CPackageReader* reader) {
  if (reader->Open(PathToWide(PathFromUtf8(pathUtf8)))) return true;
  const PackageProblem& first = reader->Problems().front();
  if (first.error == PackageError::kOpenFailed) {
    PrintFailure(DescribeProblem(first),
                 WhyUnusable(PathFromUtf8(pathUtf8), StatusKind::kIoError, false));
  } else {
    PrintError(pathUtf8 + ": " + DescribeProblem(first) + " (see ldic verify)");
  }
  return false;
}

bool WriteOut(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

int RunInfo(const std::string& package) {
  CPackageReader reader;
  if (!OpenPackage(package, &reader)) return kExitFailure;

  const PackageHeader& h = reader.Header();
  std::string out;
  char line[256];
  auto add = [&out](const char* label, const std::string& value) {
    out += label;
    out += value;
    out += '\n';
  };
  add("Package:       ", package + " (" + std::to_string(reader.FileLength()) + " bytes)");
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
  if (IsQuiet()) return kExitSuccess;
  return WriteOut(stdout, out) ? kExitSuccess : kExitFailure;
}

// The problems go to stdout, as findings; with -q only a package with problems is reported.
int RunVerify(const std::string& package) {
  const std::vector<PackageProblem> problems = VerifyPackage(PathToWide(PathFromUtf8(package)));
  if (!problems.empty() && problems.front().error == PackageError::kOpenFailed) {
    PrintFailure(PackageErrorText(PackageError::kOpenFailed),
                 WhyUnusable(PathFromUtf8(package), StatusKind::kIoError, false));
    return kExitFailure;
  }
  for (const PackageProblem& problem : problems) {
    std::printf("%s: %s\n", package.c_str(), DescribeProblem(problem).c_str());
  }
  if (problems.empty()) {
    if (!IsQuiet()) std::printf("%s: OK\n", package.c_str());
    return kExitSuccess;
  }
  std::printf("%s: %zu problem%s found\n", package.c_str(), problems.size(),
              problems.size() == 1 ? "" : "s");
  return kExitFailure;
}

// output "-" or empty: standard output. A word list for FILE goes to a new file of its
// own beside it and is renamed over FILE only when complete, so that an existing FILE is
// kept as it was whatever fails.
int RunDump(const std::string& package, const std::string& output) {
  const bool toFile = !output.empty() && output != "-";
  const std::wstring outPath = toFile ? PathToWide(PathFromUtf8(output)) : std::wstring();
  // Before anything is opened: the word list would take the package's place.
  if (toFile && platform::IsSameFile(PathToWide(PathFromUtf8(package)), outPath)) {
    PrintFailure("cannot write the word list",
                 Status::Error(StatusKind::kInvalidArgument, outPath, 0, "it is the package itself"));
    return kExitFailure;
  }
  CPackageReader reader;
  if (!OpenPackage(package, &reader)) return kExitFailure;

  platform::CBinaryFile outFile;
  std::wstring partial;
  if (toFile) {
    if (Status created = CreatePartialFile(outPath, &outFile, &partial); !created) {
      PrintFailure("cannot create the word list", created.WithPath(outPath));
      return kExitFailure;
    }
  }
  auto abandon = [&](const std::string& message, const Status& cause = {}) {
    if (cause.ok())
      PrintError(message);
    else
      PrintFailure(message, cause);
    if (toFile) {
      outFile.Close();
      platform::RemoveFile(partial);
    }
    return kExitFailure;
  };

  std::string buffer, explanation, line;
  size_t changed = 0, firstChanged = 0;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const PackageError error = reader.ReadExplanation(i, &explanation);
    if (error != PackageError::kNone) {
      return abandon(package + ": entry " + std::to_string(i) + ": " + PackageErrorText(error));
    }
    if (!FormatWordListLine(reader.Headword(i), explanation, &line) && changed++ == 0) {
      firstChanged = i;
    }
    buffer += line;
    buffer += '\n';
    if (buffer.size() >= (1u << 20) || i + 1 == reader.EntryCount()) {
      const bool written = toFile ? outFile.Write(buffer.data(), buffer.size())
                                  : WriteOut(stdout, buffer);
      if (!written) return abandon("cannot write the word list", outFile.Error().WithPath(outPath));
      buffer.clear();
    }
  }
  if (toFile) {
    if (Status closed = outFile.Close(); !closed)
      return abandon("cannot write the word list", closed.WithPath(outPath));
    if (Status moved = platform::ReplaceFile(partial, outPath); !moved) {
      platform::RemoveFile(partial);
      PrintFailure("cannot write the word list", moved);
      return kExitFailure;
    }
  } else if (std::fflush(stdout) != 0) {
    PrintError("cannot write the word list");
    return kExitFailure;
  }
  if (changed > 0 && !IsQuiet()) {
    std::string word(reader.Headword(firstChanged).substr(0, 60));
    PrintError("warning: " + std::to_string(changed) +
         " entries cannot be written so that conversion reads them back unchanged "
         "(the first is \"" + word + "\"; see ldic dump --help)");
  }
  return kExitSuccess;
}

int RunLookup(const std::string& package, const std::string& word) {
  CPackageReader reader;
  if (!OpenPackage(package, &reader)) return kExitFailure;

  const std::vector<size_t> found = reader.Lookup(word);
  if (found.empty()) {
    PrintError("no entry for \"" + word + "\"");
    return kExitFailure;
  }
  std::string out, explanation;
  for (size_t entry : found) {
    const PackageError error = reader.ReadExplanation(entry, &explanation);
    if (error != PackageError::kNone) {
      if (!IsQuiet()) WriteOut(stdout, out);
      PrintError(package + ": " + PackageErrorText(error));
      return kExitFailure;
    }
    out.append(reader.Headword(entry));
    out += '\t';
    out += explanation;
    out += '\n';
  }
  if (IsQuiet()) return kExitSuccess;
  return WriteOut(stdout, out) ? kExitSuccess : kExitFailure;
}

int RunExport(const std::string& package, const std::string& folderUtf8) {
  const fs::path folder = PathFromUtf8(folderUtf8);
  const std::wstring baseName = PathToWide(PathFromUtf8(package).stem());
  // Before anything is opened: a package named words.idx, say, exported into its own
  // folder would be replaced by the export.
  for (const wchar_t* extension : {L".dict.dz", L".idx", L".ifo"}) {
    const std::wstring file = PathToWide(folder / PathFromWide(baseName + extension));
    if (platform::IsSameFile(PathToWide(PathFromUtf8(package)), file)) {
      PrintFailure("cannot write the StarDict files",
                   Status::Error(StatusKind::kInvalidArgument, file, 0, "it is the package itself"));
      return kExitFailure;
    }
  }
  CPackageReader reader;
  if (!OpenPackage(package, &reader)) return kExitFailure;

  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    PrintFailure(
        "cannot create the folder",
        ec ? Status::Error(StatusKind::kIoError, PathToWide(folder), ec.value(), ec.message())
           : WhyUnusable(folder, StatusKind::kIoError, true));
    return kExitFailure;
  }
  switch (ExportStarDict(reader, PathToWide(folder), baseName)) {
    case StarDictExportResult::kDone:
      return kExitSuccess;
    case StarDictExportResult::kPackageDamaged:
      PrintError(package + ": the package is damaged (see ldic verify)");
      return kExitFailure;
    case StarDictExportResult::kTooLarge:
      PrintError(package + ": too much data for one dictzip file");
      return kExitFailure;
    case StarDictExportResult::kWriteFailed:
      PrintFailure("cannot write the StarDict files",
                   Status::Error(StatusKind::kIoError, PathToWide(folder)));
      return kExitFailure;
  }
  return kExitFailure;
}

}  // namespace

LdicCommand AddInfoCommand(CLI::App& ldic) {
  auto package = std::make_shared<std::string>();
  CLI::App& command = NewCommand(ldic, "info", kInfoDescription, kInfoFooter);
  AddPackageArgument(command, package.get());
  return {&command, [package] { return RunInfo(*package); }};
}

LdicCommand AddVerifyCommand(CLI::App& ldic) {
  auto package = std::make_shared<std::string>();
  CLI::App& command = NewCommand(ldic, "verify", kVerifyDescription, kVerifyFooter);
  AddPackageArgument(command, package.get());
  return {&command, [package] { return RunVerify(*package); }};
}

LdicCommand AddDumpCommand(CLI::App& ldic) {
  struct Arguments {
    std::string package, output;
  };
  auto args = std::make_shared<Arguments>();
  CLI::App& command = NewCommand(ldic, "dump", kDumpDescription, kDumpFooter);
  AddPackageArgument(command, &args->package);
  command
      .add_option("-o,--output", args->output,
                  "where to write the word list; - or none:\nstandard output")
      ->option_text("FILE");
  return {&command, [args] { return RunDump(args->package, args->output); }};
}

// A command over a package and one more required value: a word, a folder.
LdicCommand AddCommandWithValue(CLI::App& ldic, const char* name, const char* description,
                                const char* footer, const char* option, const char* help,
                                const char* valueName,
                                int (*run)(const std::string& package, const std::string& value)) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App& command = NewCommand(ldic, name, description, footer);
  AddPackageArgument(command, &args->first);
  CLI::Option* value = command.add_option(option, args->second, help)->required();
  if (valueName) value->option_text(valueName);
  return {&command, [args, run] { return run(args->first, args->second); }};
}

LdicCommand AddLookupCommand(CLI::App& ldic) {
  return AddCommandWithValue(ldic, "lookup", kLookupDescription, kLookupFooter, "WORD",
                             "the headword to look up", nullptr, &RunLookup);
}

LdicCommand AddExportCommand(CLI::App& ldic) {
  return AddCommandWithValue(ldic, "export", kExportDescription, kExportFooter, "--stardict",
                             "the folder to write the StarDict files into", "DIR", &RunExport);
}
