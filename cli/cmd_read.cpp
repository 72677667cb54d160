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
#include "cli/output_file.h"
#include "cli/package_input.h"
#include "common/utf.h"
#include "package/package_reader.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "stardict/stardict_export.h"
#include "textio/line_parse.h"

namespace fs = std::filesystem;

namespace {

constexpr char kInfoDescription[] = "show a package's metadata, entry count and section sizes";
constexpr char kInfoFooter[] =
    "Shows the package's metadata, its entry count, the sizes of its sections and the\n"
    "compression ratio of its data.\n"
    "With --json, the same as one JSON object on a line: package, file_size, header (its\n"
    "fields as stored), facts (name, author, lumo, version, date; null when not stored),\n"
    "metadata (every item as key and value), entries, explanation_bytes, chunks,\n"
    "chunk_length, compression_ratio (null when the data is not compressed), checksum\n"
    "(\"0x...\") and checksum_ok.\n"
    "PACKAGE '-' reads the package from standard input, as every command that reads one\n"
    "does: it is copied into a temporary file first (removed afterwards).\n"
    "Example: ldic info words.ldic\n"
    "         ldic info --json words.ldic | jq .entries";

constexpr char kVerifyDescription[] = "check a package completely and print each problem";
constexpr char kVerifyFooter[] =
    "Checks the CRC-32 of the file, every header field against the file's length and each\n"
    "other, the metadata, the index records (filling the index exactly, in sort order,\n"
    "with contiguous offsets), the chunk table, each chunk inflating alone to its share,\n"
    "and the data's CRC-32 and size. The exit status is 0 for a sound package and 1\n"
    "otherwise. PACKAGE '-' reads it from standard input.\n"
    "Example: ldic verify words.ldic";

constexpr char kDumpDescription[] = "write a package's entries as a UTF-8 word list";
constexpr char kDumpFooter[] =
    "One line per entry in index order: the headword, a TAB, the explanation and a line\n"
    "feed, in UTF-8 without a byte-order mark, to FILE or to standard output. PACKAGE '-'\n"
    "reads the package from standard input. Converting the list again with the same\n"
    "metadata gives the same package. How fields are written so that conversion reads\n"
    "them back unchanged:\n"
    "  - a headword holding a TAB, a comma or a double quote is put between double\n"
    "    quotes, with one more double quote at its end when it holds an odd number of\n"
    "    them (conversion trims quotes off the ends of a field);\n"
    "  - an explanation is written as it is: TABs, commas and quotes inside it are kept,\n"
    "    since everything after the first separator belongs to it.\n"
    "A line ends at a line break and conversion trims double quotes, apostrophes, TABs and\n"
    "spaces off both ends of every field. So in an explanation a line break is written as\n"
    "the two characters \\n (a CR \\r), a TAB at either end \\t, and a backslash that\n"
    "would begin such an escape \\\\; ldic convert --unescape reads them back, and then\n"
    "gives the same package. ldic says so when it wrote any (not with -q); a list without\n"
    "them converts the same with and without --unescape.\n"
    "Some fields cannot be read back unchanged either way (a headword with a line break,\n"
    "a NUL byte, which is left out, blanks or quotes at a field's ends): they are written\n"
    "as they are, and ldic reports how many entries were affected (not with -q).\n"
    "When the first headword begins with U+FEFF, the list begins with a byte-order mark,\n"
    "which conversion takes off again, so that the headword keeps its own.\n"
    "An existing FILE is replaced only once the whole list is written; FILE cannot be the\n"
    "package itself. A pipe or a device (/dev/stdout, a FIFO) is written into as it is.\n"
    "The package's CRC-32 is checked before anything is written: a damaged package is\n"
    "refused (exit status 1). With --force, what can be read of it is written and what\n"
    "cannot is reported; the exit status is still 1.\n"
    "Ctrl+C or a termination request stops it with nothing left of FILE's new version\n"
    "(exit status 130, or 143 after SIGTERM).\n"
    "Example: ldic dump words.ldic -o words-again.txt";

constexpr char kLookupDescription[] = "print the entries for a headword";
constexpr char kLookupFooter[] =
    "Prints every entry whose headword is WORD, one line each (headword TAB explanation):\n"
    "first those matching exactly, then those differing only in ASCII letter case. The\n"
    "exit status is 1 when there is none, and when the package is damaged (its CRC-32\n"
    "does not match): then nothing is printed. PACKAGE '-' reads it from standard input.\n"
    "Example: ldic lookup words.ldic apple";

constexpr char kExportDescription[] = "write a package as a StarDict 2.4.2 dictionary";
constexpr char kExportFooter[] =
    "Writes the dictionary into DIR, created if needed: NAME.ifo, NAME.idx and\n"
    "NAME.dict.dz, NAME being the package's file name without its extension. The .dict.dz\n"
    "is a dictzip file, so StarDict readers reach any entry without inflating the whole\n"
    "file. The three are written into a new folder beside DIR (DIR.lumo-new) or, when DIR\n"
    "holds other files, inside it (NAME.lumo-new), and swapped in only once complete: a\n"
    "StarDict reader finds the earlier export or the new one, never a mixture; at most,\n"
    "while the files are renamed, no dictionary. A folder left by a killed export is\n"
    "removed by the next one. Other files in DIR are left alone.\n"
    "The package's CRC-32 is checked first: a damaged package is refused (exit status 1).\n"
    "With --force, entries whose explanation cannot be read are left out and reported;\n"
    "the exit status is still 1.\n"
    "Ctrl+C or a termination request leaves DIR as it was (exit status 130, or 143).\n"
    "PACKAGE '-' reads the package from standard input; NAME is then DIR's own name.\n"
    "DIR cannot be '-': the files go into a folder.\n"
    "Example: ldic export words.ldic --stardict ~/.stardict/dic/words";

// The package every reading command opens: its first argument.
void AddPackageArgument(CLI::App& command, std::string* package) {
  command.add_option("PACKAGE", *package, "the package (.ldic), - for standard input")->required();
}

// A package that is not what its writer made: "词库文件已损坏，..." and what is wrong.
void PrintDamaged(const std::string& pathUtf8, const PackageProblem& problem) {
  const Status where = Status::Error(StatusKind::kCorrupt, PathToWide(PathFromUtf8(pathUtf8)), 0,
                                     DescribeProblem(problem) + " (see ldic verify)");
  if (problem.error == PackageError::kReadFailed)
    PrintFailure("cannot read the package", where);
  else
    PrintFailure(UserMessage::kPackageDamaged, where);
}

// Opens the package named on the command line; prints the first problem when it fails.
// With force, a package whose sections could all be read opens despite its problems,
// which are told as a warning; *damaged tells whether there were any.
bool OpenPackage(const CPackageInput& input, CPackageReader* reader, bool force = false,
                 bool* damaged = nullptr) {
  const std::string& pathUtf8 = input.Name();
  if (reader->Open(input.Path())) return true;
  const PackageProblem& first = reader->Problems().front();
  if (first.error == PackageError::kOpenFailed) {
    PrintFailure(DescribeProblem(first),
                 WhyUnusable(PathFromWide(input.Path()), StatusKind::kIoError, false));
    return false;
  }
  if (force && reader->StructureRead()) {
    PrintError("warning: " + pathUtf8 + ": " + DescribeProblem(first) + "; reading what can be read");
    if (damaged) *damaged = true;
    return true;
  }
  PrintDamaged(pathUtf8, first);
  return false;
}

// The file's CRC-32, before anything is written from the package: a mismatch refuses it,
// or with force is told as a warning and noted in *damaged.
bool CheckIntact(const std::string& pathUtf8, CPackageReader& reader, bool force = false,
                 bool* damaged = nullptr) {
  if (reader.VerifyChecksum()) return true;
  const PackageProblem& problem = reader.Problems().back();
  if (!force || problem.error == PackageError::kReadFailed) {
    PrintDamaged(pathUtf8, problem);
    return false;
  }
  PrintError("warning: " + pathUtf8 + ": " + DescribeProblem(problem) +
             "; reading what can be read, which may differ from what was written");
  if (damaged) *damaged = true;
  return true;
}

// Both: a package opened and found whole (or, with force, whatever of it can be read).
bool OpenIntact(const CPackageInput& input, CPackageReader* reader, bool force = false,
                bool* damaged = nullptr) {
  return OpenPackage(input, reader, force, damaged) && CheckIntact(input.Name(), *reader, force, damaged);
}

// An output refused before anything is opened: "ldic: WHAT — PATH: REASON", status 1.
int Refuse(const std::string& what, const std::wstring& path, const char* reason) {
  PrintFailure(what, Status::Error(StatusKind::kInvalidArgument, path, 0, reason));
  return kExitFailure;
}

// The exit status of a command that a request to stop has ended, once it has undone what
// it began (the program usually ends before: see platform::SetInterruptHandler).
int Interrupted() { return platform::InterruptExitStatus(platform::ReceivedInterrupt()); }
bool StopRequested() { return platform::ReceivedInterrupt() != platform::InterruptKind::kNone; }

bool WriteOut(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

// JSON text, written as it goes: strings as valid UTF-8 (invalid sequences become
// U+FFFD) with quotes, backslashes and control characters escaped; numbers as numbers.
class CJsonWriter {
 public:
  const std::string& Text() const { return m_text; }

  CJsonWriter& Begin(char bracket) {
    Separate();
    m_text += bracket;
    m_first = true;
    return *this;
  }
  CJsonWriter& End(char bracket) {
    m_text += bracket;
    m_first = false;
    return *this;
  }
  CJsonWriter& Key(std::string_view key) {
    String(key);
    m_text += ':';
    m_first = true;  // the value follows without a comma
    return *this;
  }
  CJsonWriter& String(std::string_view value) {
    Separate();
    m_text += '"';
    for (const char c : SanitizeUtf8(value)) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        m_text += '\\';
        m_text += c;
      } else if (byte < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        m_text += escape;
      } else {
        m_text += c;
      }
    }
    m_text += '"';
    return *this;
  }
  CJsonWriter& Number(uint64_t value) { return Raw(std::to_string(value)); }
  CJsonWriter& Bool(bool value) { return Raw(value ? "true" : "false"); }
  CJsonWriter& Null() { return Raw("null"); }
  CJsonWriter& Raw(const std::string& token) {
    Separate();
    m_text += token;
    return *this;
  }

 private:
  void Separate() {
    if (!m_first) m_text += ',';
    m_first = false;
  }

  std::string m_text;
  bool m_first = true;
};

// The known metadata items: their keys and how info names them.
struct KnownFact {
  const char* key;
  const char* label;
  const char* json;
};
constexpr KnownFact kKnownFacts[] = {{"N", "Name:          ", "name"},
                                     {"A", "Author:        ", "author"},
                                     {"Lumo", "Lumo number:   ", "lumo"},
                                     {"V", "Version:       ", "version"},
                                     {"DP", "Date:          ", "date"}};

// What info shows, as one JSON object.
std::string InfoJson(const std::string& package, const CPackageReader& reader, bool intact) {
  const PackageHeader& h = reader.Header();
  CJsonWriter json;
  json.Begin('{').Key("package").String(package).Key("file_size").Number(reader.FileLength());
  json.Key("header").Begin('{');
  json.Key("metadata_end").Number(h.metadataEnd).Key("format_version").Number(h.formatVersion);
  json.Key("compressed").Number(h.compressed).Key("index_offset").Number(h.indexOffset);
  json.Key("index_size").Number(h.indexSize).Key("data_offset").Number(h.dataOffset);
  json.Key("data_size").Number(h.dataSize).Key("entry_count").Number(h.entryCount);
  json.Key("checksum").Number(h.checksum).End('}');
  json.Key("facts").Begin('{');
  for (const KnownFact& fact : kKnownFacts) {
    json.Key(fact.json);
    bool found = false;
    for (const auto& [key, value] : reader.Metadata()) {
      if (key != fact.key || found) continue;
      json.String(value);
      found = true;
    }
    if (!found) json.Null();
  }
  json.End('}').Key("metadata").Begin('[');
  for (const auto& [key, value] : reader.Metadata())
    json.Begin('{').Key("key").String(key).Key("value").String(value).End('}');
  json.End(']');
  json.Key("entries").Number(reader.EntryCount()).Key("explanation_bytes").Number(reader.DataLength());
  json.Key("chunks").Number(reader.IsCompressed() ? reader.ChunkCount() : 0);
  json.Key("chunk_length").Number(reader.IsCompressed() ? reader.ChunkLength() : 0);
  json.Key("compression_ratio");
  if (reader.IsCompressed() && reader.DataLength() > 0) {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.4f", h.dataSize / static_cast<double>(reader.DataLength()));
    json.Raw(ratio);
  } else {
    json.Null();
  }
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "0x%08" PRIX32, h.checksum);
  json.Key("checksum").String(checksum).Key("checksum_ok").Bool(intact).End('}');
  return json.Text() + "\n";
}

int RunInfo(const std::string& package, bool asJson) {
  CPackageInput input(package);
  if (const int status = input.Fetch(); status >= 0) return status;
  CPackageReader reader;
  if (!OpenPackage(input, &reader)) return kExitFailure;
  const bool intact = reader.VerifyChecksum();
  if (IsQuiet()) return kExitSuccess;
  if (asJson) return WriteOut(stdout, InfoJson(package, reader, intact)) ? kExitSuccess : kExitFailure;

  const PackageHeader& h = reader.Header();
  std::string out;
  char line[256];
  auto add = [&out](const char* label, const std::string& value) {
    out += label;
    out += value;
    out += '\n';
  };
  add("Package:       ", package + " (" + std::to_string(reader.FileLength()) + " bytes)");
  for (const KnownFact& known : kKnownFacts) {
    for (const auto& [key, value] : reader.Metadata()) {
      if (key == known.key) add(known.label, value);
    }
  }
  for (const auto& [key, value] : reader.Metadata()) {
    bool isKnown = false;
    for (const KnownFact& known : kKnownFacts) isKnown = isKnown || key == known.key;
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
  add("Checksum:      ", std::string(line) + (intact ? "" : " (does not match the file: the package is damaged; see ldic verify)"));
  return WriteOut(stdout, out) ? kExitSuccess : kExitFailure;
}

// The problems go to stdout, as findings; with -q only a package with problems is reported.
int RunVerify(const std::string& package) {
  CPackageInput input(package);
  if (const int status = input.Fetch(); status >= 0) return status;
  const std::vector<PackageProblem> problems = VerifyPackage(input.Path());
  if (!problems.empty() && problems.front().error == PackageError::kOpenFailed) {
    PrintFailure(PackageErrorText(PackageError::kOpenFailed),
                 WhyUnusable(PathFromWide(input.Path()), StatusKind::kIoError, false));
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

// The first headwords of entries a forced reading left out, for the report.
std::string FirstWords(const CPackageReader& reader, const std::vector<size_t>& entries) {
  std::string words;
  for (size_t i = 0; i < entries.size() && i < 3; ++i)
    words += (i ? ", \"" : "\"") + std::string(reader.Headword(entries[i]).substr(0, 60)) + "\"";
  return words + (entries.size() > 3 ? ", ..." : "");
}

// A forced reading of a damaged package: what was left out, and the exit status 1 that
// says the output is not the whole package.
int ReportForced(const std::string& package, const CPackageReader& reader,
                 const std::vector<size_t>& leftOut) {
  if (!leftOut.empty())
    PrintError(package + ": " + std::to_string(leftOut.size()) + " of " +
               std::to_string(reader.EntryCount()) + " entries could not be read and were left out (" +
               FirstWords(reader, leftOut) + "; see ldic verify)");
  else
    PrintError(package + ": every entry was read, but the package is damaged (see ldic verify)");
  return kExitFailure;
}

// output "-" or empty: standard output. A word list for FILE goes to a new file of its
// own beside it and is renamed over FILE only when complete, so that an existing FILE is
// kept as it was whatever fails; a pipe or a device is written into as it is.
int RunDump(const std::string& package, const std::string& output, bool force) {
  const bool toStdout = output.empty() || output == "-";
  const std::wstring outPath = toStdout ? std::wstring(L"-") : PathToWide(PathFromUtf8(output));
  CPackageInput input(package);
  // Before anything is opened: the word list would take the package's place.
  if (!toStdout && !input.FromStandardInput() && platform::IsSameFile(input.Path(), outPath))
    return Refuse("cannot write the word list", outPath, "it is the package itself");
  if (!toStdout && platform::QueryFileKind(outPath) == platform::FileKind::kFolder)
    return Refuse("cannot write the word list", outPath, "a folder, not a file");
  if (const int status = input.Fetch(); status >= 0) return status;
  CPackageReader reader;
  bool damaged = false;
  if (!OpenIntact(input, &reader, force, &damaged)) return kExitFailure;

  COutputFile out;
  if (Status opened = out.Open(outPath); !opened) {
    PrintWriteFailure("cannot create the word list", opened);
    return kExitFailure;
  }
  std::string buffer, explanation, line;
  size_t changed = 0, firstChanged = 0;
  size_t escaped = 0, firstEscaped = 0;
  std::vector<size_t> leftOut;
  bool first = true;
  const auto writeFailed = [&out] {
    const Status failed = out.Error();
    out.Abandon();
    PrintWriteFailure("cannot write the word list", failed);
    return kExitFailure;
  };
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    if (StopRequested()) {
      out.Abandon();
      return Interrupted();
    }
    const PackageError error = reader.ReadExplanation(i, &explanation);
    if (error != PackageError::kNone) {
      if (force) {
        leftOut.push_back(i);
        continue;
      }
      out.Abandon();
      PrintDamaged(package, {error, "entry " + std::to_string(i)});
      return kExitFailure;
    }
    const LineFidelity fidelity = FormatWordListLine(reader.Headword(i), explanation, &line);
    if (fidelity == LineFidelity::kChanged && changed++ == 0) firstChanged = i;
    if (fidelity == LineFidelity::kEscaped && escaped++ == 0) firstEscaped = i;
    // Conversion takes a byte-order mark at the start of a list for what it is: a headword
    // that begins with U+FEFF keeps it when a mark of the list's own comes before.
    if (first && line.starts_with("\xEF\xBB\xBF")) buffer += "\xEF\xBB\xBF";
    first = false;
    buffer += line;
    buffer += '\n';
    if (buffer.size() >= (1u << 20)) {
      if (!out.Write(buffer.data(), buffer.size())) return writeFailed();
      buffer.clear();
    }
  }
  if (!buffer.empty() && !out.Write(buffer.data(), buffer.size())) return writeFailed();
  if (Status done = out.Commit(); !done) {
    if (done.Kind() == StatusKind::kCancelled) return Interrupted();
    PrintWriteFailure("cannot write the word list", done);
    return kExitFailure;
  }
  if (escaped > 0 && !IsQuiet()) {
    const std::string word(reader.Headword(firstEscaped).substr(0, 60));
    PrintError("note: " + std::to_string(escaped) +
               " entries were written with escapes (\\n for a line break; see ldic dump --help); "
               "ldic convert --unescape reads them back unchanged (the first is \"" + word + "\")");
  }
  if (changed > 0 && !IsQuiet()) {
    std::string word(reader.Headword(firstChanged).substr(0, 60));
    PrintError("warning: " + std::to_string(changed) +
         " entries cannot be written so that conversion reads them back unchanged "
         "(the first is \"" + word + "\"; see ldic dump --help)");
  }
  if (damaged || !leftOut.empty()) return ReportForced(package, reader, leftOut);
  return kExitSuccess;
}

int RunLookup(const std::string& package, const std::string& word) {
  CPackageInput input(package);
  if (const int status = input.Fetch(); status >= 0) return status;
  CPackageReader reader;
  // The whole file's CRC-32 is cheaper to check than the data it covers is to inflate,
  // and nothing else tells a changed letter in an explanation.
  if (!OpenIntact(input, &reader)) return kExitFailure;

  const std::vector<size_t> found = reader.Lookup(word);
  if (found.empty()) {
    PrintError("no entry for \"" + word + "\"");
    return kExitFailure;
  }
  std::string out, explanation;
  for (size_t entry : found) {
    const PackageError error = reader.ReadExplanation(entry, &explanation);
    if (error != PackageError::kNone) {
      PrintDamaged(package, {error, "entry " + std::to_string(entry)});
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

int RunExport(const std::string& package, const std::string& folderUtf8, bool force) {
  if (folderUtf8 == "-")
    return UsageError("export", "the StarDict files go into a folder, not to standard output ('-')");
  std::error_code ec;
  fs::path folder = fs::absolute(PathFromUtf8(folderUtf8), ec).lexically_normal();
  if (!folder.has_filename() && folder != folder.root_path()) folder = folder.parent_path();
  const std::wstring folderWide = PathToWide(folder);
  CPackageInput input(package);
  // A package from standard input has no file name: the files take the folder's.
  const fs::path named = input.FromStandardInput() ? folder : PathFromUtf8(package);
  const std::wstring baseName = named.has_stem() ? PathToWide(named.stem()) : L"dictionary";
  // Before anything is opened: a package named words.idx, say, exported into its own
  // folder would be replaced by the export.
  for (const wchar_t* extension : {L".dict.dz", L".idx", L".ifo"}) {
    const std::wstring file = PathToWide(folder / PathFromWide(baseName + extension));
    if (!input.FromStandardInput() && platform::IsSameFile(input.Path(), file))
      return Refuse("cannot write the StarDict files", file, "it is the package itself");
  }
  const platform::FileKind kind = platform::QueryFileKind(folderWide);
  if (kind == platform::FileKind::kRegular || kind == platform::FileKind::kStream)
    return Refuse("cannot write the StarDict files", folderWide, "not a folder");
  if (const int status = input.Fetch(); status >= 0) return status;
  CPackageReader reader;
  bool damaged = false;
  if (!OpenIntact(input, &reader, force, &damaged)) return kExitFailure;

  // The folders made for the export are removed again when it does not succeed; a request
  // to stop waits until they are.
  platform::CHoldInterrupts hold;
  std::vector<std::wstring> made;
  const auto removeMade = [&made] {
    for (auto it = made.rbegin(); it != made.rend(); ++it) platform::RemoveFolder(*it);
  };
  std::vector<std::wstring> missing;
  for (fs::path up = folder.parent_path();
       !up.empty() && platform::QueryFileKind(PathToWide(up)) == platform::FileKind::kMissing;
       up = up.parent_path()) {
    missing.push_back(PathToWide(up));
    if (up == up.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (Status created = platform::CreateFolder(*it); !created) {
      removeMade();
      PrintWriteFailure("cannot create the folder", created);
      return kExitFailure;
    }
    made.push_back(*it);
  }

  StarDictExportOptions options;
  options.force = force;
  options.stopRequested = &StopRequested;
  const StarDictExportOutcome outcome = ExportStarDict(reader, folderWide, baseName, options);
  if (outcome.result != StarDictExportResult::kDone) removeMade();
  switch (outcome.result) {
    case StarDictExportResult::kDone:
      if (damaged || !outcome.leftOut.empty()) return ReportForced(package, reader, outcome.leftOut);
      return kExitSuccess;
    case StarDictExportResult::kStopped:
      return Interrupted();
    case StarDictExportResult::kPackageDamaged:
      PrintDamaged(package, {PackageError::kChunkCorrupt, "the data cannot be read"});
      return kExitFailure;
    case StarDictExportResult::kTooLarge:
      PrintError(package + ": too much data for one dictzip file");
      return kExitFailure;
    case StarDictExportResult::kWriteFailed:
      PrintWriteFailure("cannot write the StarDict files",
                        outcome.cause.ok() ? Status::Error(StatusKind::kIoError, folderWide)
                                           : outcome.cause);
      return kExitFailure;
  }
  return kExitFailure;
}

}  // namespace

LdicCommand AddInfoCommand(CLI::App& ldic) {
  struct Arguments {
    std::string package;
    bool json = false;
  };
  auto args = std::make_shared<Arguments>();
  CLI::App& command = NewCommand(ldic, "info", kInfoDescription, kInfoFooter);
  AddPackageArgument(command, &args->package);
  command.add_flag("--json", args->json, "print it as one JSON object");
  return {&command, [args] { return RunInfo(args->package, args->json); }};
}

LdicCommand AddVerifyCommand(CLI::App& ldic) {
  auto package = std::make_shared<std::string>();
  CLI::App& command = NewCommand(ldic, "verify", kVerifyDescription, kVerifyFooter);
  AddPackageArgument(command, package.get());
  return {&command, [package] { return RunVerify(*package); }};
}

// --force of the commands that write what they read.
void AddForceFlag(CLI::App& command, bool* force) {
  command.add_flag("--force", *force,
                   "read what can be read of a damaged package, and report\nwhat cannot (exit status 1)");
}

LdicCommand AddDumpCommand(CLI::App& ldic) {
  struct Arguments {
    std::string package, output;
    bool force = false;
  };
  auto args = std::make_shared<Arguments>();
  CLI::App& command = NewCommand(ldic, "dump", kDumpDescription, kDumpFooter);
  AddPackageArgument(command, &args->package);
  command
      .add_option("-o,--output", args->output,
                  "where to write the word list; - or none:\nstandard output")
      ->option_text("FILE");
  AddForceFlag(command, &args->force);
  return {&command, [args] { return RunDump(args->package, args->output, args->force); }};
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
  struct Arguments {
    std::string package, folder;
    bool force = false;
  };
  auto args = std::make_shared<Arguments>();
  CLI::App& command = NewCommand(ldic, "export", kExportDescription, kExportFooter);
  AddPackageArgument(command, &args->package);
  command.add_option("--stardict", args->folder, "the folder to write the StarDict files into")
      ->required()
      ->option_text("DIR");
  AddForceFlag(command, &args->force);
  return {&command, [args] { return RunExport(args->package, args->folder, args->force); }};
}
