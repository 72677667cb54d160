// ldic convert: the dialog's conversion from the command line. The command line is made
// into a conversion request for the conversion service; RunConversion then runs the job on
// a worker thread as the dialog does, waits for its end and finishes it through the same
// service calls as the dialog's completion handler.

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

#include "cli/cli_output.h"
#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "cli/output_file.h"
#include "common/status.h"
#include "common/threads.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "platform/console.h"
#include "platform/text_convert.h"
#include "platform/settings_location.h"
#include "service/conversion_service.h"

namespace fs = std::filesystem;

namespace {

constexpr char kConvertDescription[] =
    "make a .ldic package from a word list, a StarDict or an MDict dictionary, as the dialog\n"
    "does";

constexpr char kConvertFooter[] =
    "The word list is TXT or CSV (headword, TAB or comma, explanation), in UTF-8, UTF-16\n"
    "or the ANSI code page. Without a byte-order mark the encoding is told from the list's\n"
    "first 16 MiB; a file that is no text (NULs, control characters) is refused.\n"
    "WORDLIST '-' reads the word list from standard input, with the same detection of its\n"
    "encoding and the same package as from the file; -o is then needed, and the name\n"
    "defaults to the package's base name.\n"
    "While it works, the progress is shown on stderr when that is a terminal; at the end\n"
    "\"PACKAGE: N entries\" is printed, and a summary on stderr: lines read, entries, lines\n"
    "skipped by reason, lines repaired (invalid bytes replaced, NULs dropped), repeated\n"
    "headwords and the encoding read. A list that gives no entry makes no package (exit\n"
    "status 1). Ctrl+C stops it in every phase within a fraction of a second (exit status 130,\n"
    "143 after a termination request); no package and no temporary file is left behind.\n"
    "The temporary files LumoDictTemp.des and LumoDictTemp.des.dz are made in the\n"
    "package's folder and deleted afterwards; when those names are taken, a numbered pair\n"
    "(LumoDictTemp-2.des, ...) is used, and files found there are never written or\n"
    "deleted. PACKAGE must be a file or a new name: a\n"
    "device, a pipe or a folder is refused before any work; --report FILE may be a pipe.\n"
    "A StarDict dictionary is named by its .ifo (beside it NAME.idx or NAME.idx.gz,\n"
    "NAME.dict or NAME.dict.dz, and NAME.syn when there are synonyms). Its entries are\n"
    "taken as they are, line breaks included; each synonym becomes an entry of its own.\n"
    "HTML, Pango markup and XDXF become plain text unless --keep-markup is given; sounds,\n"
    "pictures and other binary fields are left out, and entries holding nothing else are\n"
    "skipped, as are entries whose data cannot be read: the summary counts them, and\n"
    "--report names them by their number (the index's entries first, then the synonyms).\n"
    "The name and the author default to the dictionary's bookname and author.\n"
    "An MDict dictionary is named by its .mdx (versions 1.2 and 2.0). Each key becomes an\n"
    "entry: style sheets are expanded and HTML becomes plain text unless --keep-markup is\n"
    "given; a link (@@@LINK=) takes the explanation of the entry it leads to. Entries\n"
    "without a headword, in a damaged block and links that lead nowhere or round in a\n"
    "circle are skipped and counted, and --report names them by their number in the\n"
    "file (reasons empty-headword, unreadable, link-target-missing, link-loop). The\n"
    "pictures and sounds of a NAME.mdd beside it are not converted; the summary says so.\n"
    "A dictionary locked to a registration key, of version 3.0 or later, in an unknown\n"
    "encoding or damaged outside its records is refused. The name defaults to its title.\n"
    "Entries whose headwords are byte for byte the same stay entries of their own unless\n"
    "--duplicates says otherwise: merge makes them one entry, their explanations in the\n"
    "list's order with a line break between each two; first keeps the first and drops the\n"
    "others; the summary and --report then name the entries merged or dropped. Headwords\n"
    "that differ only in letter case are different headwords.\n"
    "Example: ldic convert words.txt -o out/words.ldic --name \"My words\" --author Me\n"
    "         some-tool | ldic convert - -o words.ldic --version=2.0\n"
    "         ldic convert oxford.ifo -o oxford.ldic\n"
    "         ldic convert collins.mdx --keep-markup";

// Reports the worker's progress on the terminal, tells of failures and hands the run's end
// to the waiting thread.
class CliObserver : public IConvertObserver {
 public:
  explicit CliObserver(bool showProgress, std::wstring settings)
      : m_showProgress(showProgress), m_console(std::move(settings)) {}

  void OnConvertProgress(int percent) override { ShowProgress(percent); }

  void OnConvertDone(bool success, CConvertJob*) override {
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_success = success;
    m_cv.notify_all();
  }

  void ShowWarning(UserMessage message, const Status& cause) override {
    EndProgressLine();
    m_console.ShowWarning(message, cause);
  }

  bool Wait() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_done; });
    return m_success;
  }

  void ShowProgress(int percent) {
    if (!m_showProgress) return;
    std::fprintf(stderr, "\rconverting... %3d%%", percent);
    std::fflush(stderr);
    m_lineOpen = true;
  }

  void EndProgressLine() {
    if (m_lineOpen) std::fputc('\n', stderr);
    m_lineOpen = false;
  }

 private:
  const bool m_showProgress;
  CConsoleWarningSink m_console;
  bool m_lineOpen = false;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  bool m_success = false;
};

// Ctrl+C cancels the job as the dialog's cancel does, in whatever phase; no package is
// written and the temporary files are removed.
std::atomic<bool> g_interrupted{false};
std::atomic<CConvertJob*> g_runningJob{nullptr};

void OnInterrupt() {
  g_interrupted = true;
  if (CConvertJob* job = g_runningJob.load()) job->Cancel();
}

// The command line as CLI11 leaves it.
struct ConvertArguments {
  std::string wordList;
  std::string package;
  std::string name, author, lumo, version, date;
  bool haveName = false;
  bool haveAuthor = false;
  bool haveDate = false;
  unsigned threads = 0;
  bool timings = false;
  bool registerPackage = false;
  std::string ini;
  std::string report;
  bool strict = false;
  std::string encoding = "auto";
  std::string from = "auto";
  bool keepMarkup = false;
  std::string duplicates = "keep";
};

// A conversion as the command line asked for it.
struct ConvertRun {
  ConvertRequest request;
  bool timings = false;
  bool registerPackage = false;
  std::wstring settings;  // LumoDict's settings file, for registerPackage
  bool quiet = false;
  std::optional<fs::path> report;        // --report: where the TSV of problem lines goes
  bool strict = false;
  std::optional<TextEncoding> encoding;  // --encoding, unless auto
};

const std::map<std::string, TextEncoding>& EncodingNames() {
  static const std::map<std::string, TextEncoding> names = {
      {"utf-8", TextEncoding::Utf8},
      {"utf-16le", TextEncoding::Utf16LE},
      {"utf-16be", TextEncoding::Utf16BE},
      {"ansi", TextEncoding::Ansi},
  };
  return names;
}

// "cpNNN" naming a code page the system can convert from.
CLI::Validator CodePageValidator() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        const bool digits = value.size() > 2 && value.size() <= 7 && value.starts_with("cp") &&
                            value.find_first_not_of("0123456789", 2) == std::string::npos;
        if (digits && platform::IsCodePageSupported(static_cast<unsigned>(std::stoul(value.substr(2)))))
          return {};
        return "not an encoding or a code page this system knows: " + value;
      },
      "cpNNN");
}

// What --from takes: auto and every input format's name.
std::vector<std::string> FromNames() {
  std::vector<std::string> names{"auto"};
  for (std::string& name : InputFormatNames()) names.push_back(std::move(name));
  return names;
}

// What --duplicates takes.
const std::map<std::string, DuplicatePolicy>& DuplicateNames() {
  static const std::map<std::string, DuplicatePolicy> names = {
      {"keep", DuplicatePolicy::kKeep},
      {"merge", DuplicatePolicy::kMerge},
      {"first", DuplicatePolicy::kFirst},
  };
  return names;
}

const char* EncodingName(TextEncoding encoding) {
  for (const auto& [name, value] : EncodingNames())
    if (value == encoding) return name.c_str();
  return "";
}

// The encoding the list was read in, by the names --encoding takes: an ANSI list's code
// page by number, "ansi (cpNNN)" when it was the system's.
std::string EncodingLabel(const CRunReport& report, unsigned codePage) {
  if (report.Encoding() != TextEncoding::Ansi) return EncodingName(report.Encoding());
  if (codePage != 0) return "cp" + std::to_string(codePage);
  return "ansi (cp" + std::to_string(platform::AnsiCodePage()) + ")";
}

// The run report on stderr, one fact a line; line numbers (entry numbers for a dictionary)
// as far as the report kept them.
void PrintSummary(const CRunReport& report, unsigned codePage, DuplicatePolicy duplicates) {
  const bool entries = report.CountsEntries();
  const auto numbers = [&report, entries](std::initializer_list<ReportReason> reasons) {
    bool more = false;
    std::string list;
    for (const uint64_t number : report.LineNumbers(reasons, 10, &more))
      list += (list.empty() ? (entries ? " (entry " : " (line ") : ", ") + std::to_string(number);
    if (more) list += ", ...";
    return list.empty() ? list : list + ")";
  };
  const auto n = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  // What became of the repeated headwords, when they were not kept apart.
  const auto repeats = [&] {
    if (duplicates == DuplicatePolicy::kMerge)
      std::fprintf(stderr, "merged: %llu%s\n", n(report.MergedEntries()), numbers({ReportReason::kMerged}).c_str());
    if (duplicates == DuplicatePolicy::kFirst)
      std::fprintf(stderr, "dropped: %llu%s\n", n(report.DroppedEntries()), numbers({ReportReason::kDropped}).c_str());
  };
  if (entries) {
    std::fprintf(stderr, "entries read: %llu\nentries: %llu\n", n(report.LinesRead()), n(report.Entries()));
    std::fprintf(stderr, "unreadable: %llu%s\n", n(report.UnreadableEntries()),
                 numbers({ReportReason::kUnreadable}).c_str());
    std::fprintf(stderr, "binary only: %llu%s\n", n(report.BinaryOnlyEntries()),
                 numbers({ReportReason::kBinaryOnly}).c_str());
    std::fprintf(stderr, "empty headword: %llu%s\nbinary fields left out: %llu\n",
                 n(report.Skipped(LineProblem::kEmptyHeadword)),
                 numbers({ReportReason::kEmptyHeadword}).c_str(), n(report.FieldsLeftOut()));
    // What only an MDict dictionary has, when it has it.
    if (report.LinkLoops() != 0)
      std::fprintf(stderr, "link loop: %llu%s\n", n(report.LinkLoops()),
                   numbers({ReportReason::kLinkLoop}).c_str());
    if (report.LinkTargetsMissing() != 0)
      std::fprintf(stderr, "link target missing: %llu%s\n", n(report.LinkTargetsMissing()),
                   numbers({ReportReason::kLinkTargetMissing}).c_str());
    std::fprintf(stderr, "repeated headwords: %llu\n", n(report.RepeatedHeadwords()));
    if (report.ResourcesLeftOut())
      std::fprintf(stderr, "resources left out: the .mdd beside the dictionary (pictures, sounds)\n");
    repeats();
    return;
  }
  std::fprintf(stderr, "lines read: %llu\nentries: %llu\n", n(report.LinesRead()), n(report.Entries()));
  const std::string tooLong = report.Skipped(LineProblem::kTooLong) == 0
                                  ? std::string()
                                  : ", too long " + std::to_string(report.Skipped(LineProblem::kTooLong));
  std::fprintf(stderr, "skipped: %llu (no separator %llu, unclosed quote %llu, empty headword %llu%s)%s\n",
               n(report.SkippedLines()), n(report.Skipped(LineProblem::kNoSeparator)),
               n(report.Skipped(LineProblem::kUnclosedQuote)),
               n(report.Skipped(LineProblem::kEmptyHeadword)), tooLong.c_str(),
               numbers({ReportReason::kNoSeparator, ReportReason::kUnclosedQuote,
                        ReportReason::kEmptyHeadword, ReportReason::kTooLong}).c_str());
  std::fprintf(stderr, "repaired: %llu lines (%llu invalid bytes replaced, %llu NULs dropped)%s\n",
               n(report.RepairedLines()), n(report.BytesReplaced()), n(report.NulsDropped()),
               numbers({ReportReason::kRepaired}).c_str());
  std::fprintf(stderr, "repeated headwords: %llu\n", n(report.RepeatedHeadwords()));
  repeats();
  std::fprintf(stderr, "encoding: %s\n", EncodingLabel(report, codePage).c_str());
}

// --report: every line the report kept, as "LINE<TAB>REASON<TAB>TEXT" under a header; the
// text is the rest of the line, TABs and all. A list that held more than ASCII first gets
// the row "0<TAB>encoding<TAB>NAME", so that a wrong encoding shows beside its damage. An
// earlier report is replaced only once the new one is complete; a pipe or a device is
// written into.
bool WriteReportFile(const fs::path& path, const CRunReport& report, unsigned codePage) {
  std::string text = "line\treason\ttext\n";
  if (report.HeldNonAscii()) text += "0\tencoding\t" + std::string(EncodingLabel(report, codePage)) + '\n';
  for (const ReportedLine& line : report.Lines()) {
    text += std::to_string(line.line) + '\t' + ReportReasonName(line.reason) + '\t';
    text += line.text;
    text += '\n';
  }
  COutputFile out;
  Status written = out.Open(PathToWide(path));
  if (written && !out.Write(text.data(), text.size())) written = out.Error();
  if (written) written = out.Commit();
  if (written) return true;
  out.Abandon();
  if (written.Kind() != StatusKind::kCancelled) PrintWriteFailure("cannot write the report", written);
  return false;
}

// Makes the arguments a run, its paths resolved with std::filesystem and checked by the
// conversion service. Returns the exit status to stop with, or -1 to go on.
int ResolveRun(const ConvertArguments& args, ConvertRun* run) {
  ConvertRequest& request = run->request;
  request.fromStandardInput = args.wordList == "-";
  request.format = args.from == "auto" ? InputFormatOf(Utf8ToWideText(args.wordList))
                                       : *InputFormatNamed(args.from);
  if (request.fromStandardInput && IsDictionaryFormat(request.format))
    return UsageError("convert", "a dictionary is read from its files, not from standard input");
  request.keepMarkup = args.keepMarkup;
  request.duplicates = DuplicateNames().at(args.duplicates);
  if (request.fromStandardInput && args.package.empty())
    return UsageError("convert", "a word list from standard input ('-') needs -o PACKAGE");
  // The package is written beside its final place and moved there, which a stream cannot do.
  if (args.package == "-") return UsageError("convert", "the package cannot go to standard output");

  std::error_code ec;
  const fs::path wordList = request.fromStandardInput ? fs::path("-") : PathFromUtf8(args.wordList);
  const fs::path package =
      fs::absolute(args.package.empty() ? fs::path(wordList).replace_extension(".ldic")
                                        : PathFromUtf8(args.package),
                   ec);
  request.wordList = PathToWide(wordList);
  request.package = PathToWide(package);
  request.folder = PathToWide(package.parent_path());

  PackageFacts& facts = request.facts;
  facts.name = args.haveName ? Utf8ToWideText(args.name)
                             : PathToWide((request.fromStandardInput ? package : wordList).stem());
  facts.name = TrimName(facts.name);
  facts.author = Utf8ToWideText(args.author);
  // A dictionary's own name and author, unless given; its free-text date is not used, so
  // that the dialog and ldic make the same package.
  // A dictionary whose .ifo cannot be read stops here, rather than make a package under
  // other facts than its own.
  InputDefaults defaults;
  if (IsDictionaryFormat(request.format)) {
    if (Status read = ReadInputDefaults(request.format, request.wordList, &defaults); !read) {
      PrintFailure(MessageFor(read), read);
      return kExitFailure;
    }
    if (!args.haveName && !defaults.name.empty()) facts.name = defaults.name;
    if (!args.haveAuthor) facts.author = defaults.author;
  }
  facts.lumo = Utf8ToWideText(args.lumo);
  facts.version = Utf8ToWideText(args.version);
  facts.date = args.haveDate ? Utf8ToWideText(args.date) : platform::TodayLongDate();
  request.threads = args.threads;

  for (const auto check : {CheckConvertPaths, CheckConvertFacts}) {
    if (const std::optional<ConvertProblem> problem = check(request)) {
      PrintFailure(problem->message, problem->cause);
      return kExitFailure;
    }
  }
  run->timings = args.timings;
  run->registerPackage = args.registerPackage;
  run->settings = args.ini.empty() ? platform::LumoDictSettingsPath()
                                   : PathToWide(fs::absolute(PathFromUtf8(args.ini), ec));
  run->quiet = IsQuiet();
  run->strict = args.strict;
  if (!args.report.empty()) run->report = fs::absolute(PathFromUtf8(args.report), ec);
  if (args.encoding.starts_with("cp")) {
    run->encoding = TextEncoding::Ansi;
    run->request.codePage = static_cast<unsigned>(std::stoul(args.encoding.substr(2)));
  } else if (args.encoding != "auto") {
    run->encoding = EncodingNames().at(args.encoding);
  }
  return -1;
}

// Runs the conversion on a worker thread, writes the package, removes the temporary files
// and registers the package when asked; returns the exit status.
int RunConversion(const ConvertRun& run) {
  const ConvertRequest& request = run.request;
  const std::u16string metaBlock = BuildMetadataBlock(request.facts);
  CliObserver observer(!run.quiet && platform::StderrIsTerminal(), run.settings);
  const std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer, run.encoding);
  g_runningJob = job.get();
  platform::SetInterruptHandler(&OnInterrupt);
  observer.ShowProgress(5);
  CJoiningThread worker;
  worker.Start([&job] { ConvertThreadProc(job.get()); });
  bool converted = observer.Wait();
  worker.Join();
  g_runningJob = nullptr;
  // Ctrl+C just as the worker ended: nothing is written.
  if (g_interrupted) converted = false;
  // The report is complete once the list was read, also when it gave no entry.
  const CRunReport& report = job->Report();
  const bool listRead =
      !g_interrupted && (converted || job->Outcome().Kind() == StatusKind::kNoEntries);
  bool reportWritten = true;
  if (listRead && run.report) reportWritten = WriteReportFile(*run.report, report, request.codePage);
  const bool strictFailure = converted && run.strict && report.HasProblems();
  if (strictFailure || !reportWritten) converted = false;

  const auto start = std::chrono::steady_clock::now();
  const bool written = FinishConversion(*job, converted, request.package, metaBlock,
                                        [&observer](int percent) { observer.ShowProgress(percent); },
                                        observer);
  observer.EndProgressLine();
  if (run.timings && written) {
    const ConvertPhaseTimes& t = job->PhaseTimes();
    const double write = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "phase read %.3f\nphase sort %.3f\nphase write-data %.3f\nphase compress %.3f\n"
                 "phase write-package %.3f\n", t.read, t.sort, t.writeData, t.compress, write);
  }
  if (g_interrupted) {
    PrintFailure(UserMessage::kConvertCancelled);
    return platform::InterruptExitStatus(platform::ReceivedInterrupt());
  }
  if (strictFailure) {
    if (!run.quiet) PrintSummary(report, run.request.codePage, request.duplicates);
    if (report.CountsEntries())
      PrintError("--strict: " + std::to_string(report.SkippedEntries()) + " entries skipped; no package written");
    else
      PrintError("--strict: " + std::to_string(report.SkippedLines()) + " lines skipped, " +
                 std::to_string(report.RepairedLines()) + " repaired; no package written");
  }
  if (!written) return kExitFailure;  // the user has been told why
  if (!run.quiet) {
    std::printf("%s: %zu entries\n", WideToUtf8(request.package).c_str(), job->Result().index.EntryCount());
    std::fflush(stdout);
    PrintSummary(report, run.request.codePage, request.duplicates);
  }
  // Only a complete package is registered, after its temporary files are gone.
  if (!run.registerPackage) return kExitSuccess;
  return RegisterWithHost(request.package, run.settings, observer) == RegisterOutcome::kRegistered
             ? kExitSuccess
             : kExitFailure;
}

}  // namespace

LdicCommand AddConvertCommand(CLI::App& ldic) {
  auto args = std::make_shared<ConvertArguments>();
  CLI::App& command = NewCommand(ldic, "convert", kConvertDescription, kConvertFooter);
  command.add_option("WORDLIST", args->wordList,
                     "the word list, - for standard input, a StarDict\ndictionary's .ifo or an MDict dictionary's .mdx")
      ->required();
  command.add_option("-o,--output", args->package,
                     "where to write the package (default: WORDLIST with the\n"
                     "extension .ldic)")
      ->option_text("PACKAGE");
  CLI::Option* name = command.add_option("--name", args->name,
                                         "the dictionary's name (default: WORDLIST's base name)");
  name->option_text("N");
  CLI::Option* author = command.add_option("--author", args->author, "the author");
  author->option_text("A");
  command.add_option("--lumo", args->lumo, "the author's Lumo number")->option_text("L");
  command.add_option("--version", args->version,
                     "the dictionary's version, written into the package\n"
                     "(ldic's own version: ldic --version)")
      ->option_text("V");
  CLI::Option* date = command.add_option(
      "--date", args->date, "the date text (default: today in the long date format)");
  date->option_text("D");
  command.add_option("--threads", args->threads,
                     "threads for compression (default: one per core); the\n"
                     "package is the same for every count")
      ->check(CLI::Range(1, 256))
      ->option_text("N");
  command.add_flag(
      "--timings", args->timings,
      "print the seconds of each phase on stderr\n(\"phase NAME SECONDS\"), also with -q");
  command.add_option("--report", args->report,
                     "write every skipped or repaired line, and every entry merged\n"
                     "or dropped by --duplicates, to FILE, tab-separated: line\n"
                     "number, reason, the line or the headword (at most 200 bytes)")
      ->option_text("FILE");
  command.add_flag("--strict", args->strict,
                   "fail (exit status 1, no package) when a line was skipped or repaired");
  command.add_option("--encoding", args->encoding,
                     "the word list's encoding: auto (detected, the default), utf-8,\n"
                     "utf-16le, utf-16be, ansi (the system's code page) or a code\n"
                     "page by number, such as cp936 or cp1252")
      ->check(CLI::IsMember({"auto", "utf-8", "utf-16le", "utf-16be", "ansi"}) | CodePageValidator())
      ->option_text("E");
  command.add_option("--from", args->from,
                     "what WORDLIST is: list (a word list), stardict (a StarDict\n"
                     "dictionary's .ifo), mdict (an MDict dictionary's .mdx) or\n"
                     "auto (by its extension, the default)")
      ->check(CLI::IsMember(FromNames()))
      ->option_text("KIND");
  command.add_option("--duplicates", args->duplicates,
                     "what becomes of entries with byte-identical headwords: keep\n"
                     "(each its own entry, the default), merge (one entry, the\n"
                     "explanations joined by line breaks in the list's order) or\n"
                     "first (the first one alone)")
      ->check(CLI::IsMember({"keep", "merge", "first"}))
      ->option_text("HOW");
  command.add_flag("--keep-markup", args->keepMarkup,
                   "keep a dictionary's HTML, Pango markup and XDXF as they are\n"
                   "(an MDict one's with its style sheet expanded) instead of\n"
                   "making them plain text");
  CLI::Option* registerFlag = command.add_flag(
      "--register", args->registerPackage, "add the package to LumoDict's list of dictionaries");
  command.add_option("--ini", args->ini,
                     "LumoDict's settings file for --register (default:\nLumoDict's own)")
      ->needs(registerFlag)
      ->option_text("SETTINGS");
  return {&command, [args, name, author, date] {
            args->haveName = name->count() > 0;
            args->haveAuthor = author->count() > 0;
            args->haveDate = date->count() > 0;
            ConvertRun run;
            const int status = ResolveRun(*args, &run);
            return status >= 0 ? status : RunConversion(run);
          }};
}
