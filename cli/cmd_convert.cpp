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
#include <vector>

#include "cli/cli_output.h"
#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "cli/output_file.h"
#include "common/status.h"
#include "common/threads.h"
#include "common/warning_sink.h"
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
    "Several word lists (or dictionaries) need --out-dir DIR: each becomes DIR/NAME.ldic,\n"
    "NAME being its file name without its last extension (two lists for one NAME are\n"
    "refused before any work). --jobs N converts N at once, each as a single list is\n"
    "converted, with temporary files and memory of its own. A list that fails stops no\n"
    "other: \"PACKAGE: N entries\" is printed for each package in the lists' order, and at\n"
    "the end a line per list on stderr; the exit status is 1 when any failed. -o, --name,\n"
    "--report and --timings are for one list. Ctrl+C stops every running conversion and\n"
    "starts no other; the packages already made stay.\n"
    "--unescape reads \\n, \\r, \\t and \\\\ in a word list's explanations as a line\n"
    "break, a CR, a TAB and a backslash, as ldic dump writes them; any other backslash\n"
    "stays as it is, and headwords are taken as they stand.\n"
    "--report - writes the report to standard output; \"PACKAGE: N entries\" then goes to\n"
    "stderr.\n"
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
  // Failures go to forward when given (a batch tells them per word list), else to the
  // console; results is where the console tells a registration.
  CliObserver(bool showProgress, std::wstring settings, IWarningSink* forward = nullptr,
              std::FILE* results = stdout)
      : m_showProgress(showProgress), m_console(std::move(settings), results), m_forward(forward) {}

  void OnConvertProgress(int percent) override { ShowProgress(percent); }

  void OnConvertDone(bool success, CConvertJob*) override {
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_success = success;
    m_cv.notify_all();
  }

  void ShowWarning(UserMessage message, const Status& cause) override {
    EndProgressLine();
    if (m_forward)
      m_forward->ShowWarning(message, cause);
    else
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
  IWarningSink* const m_forward;
  bool m_lineOpen = false;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  bool m_success = false;
};

// Ctrl+C cancels the running jobs as the dialog's cancel does, in whatever phase; no
// package is written and the temporary files are removed. A batch runs at most kMaxJobs
// at once.
constexpr unsigned kMaxJobs = 64;
std::atomic<bool> g_interrupted{false};
std::atomic<CConvertJob*> g_runningJobs[kMaxJobs];

void OnInterrupt() {
  g_interrupted = true;
  for (std::atomic<CConvertJob*>& slot : g_runningJobs)
    if (CConvertJob* job = slot.load()) job->Cancel();
}

// Takes over the requests to stop for the conversions to come.
void ArmInterrupts() {
  g_interrupted = false;
  platform::SetInterruptHandler(&OnInterrupt);
}

// Keeps a job where OnInterrupt finds it for as long as it runs.
class CListedJob {
 public:
  explicit CListedJob(CConvertJob* job) {
    for (std::atomic<CConvertJob*>& slot : g_runningJobs) {
      CConvertJob* none = nullptr;
      if (slot.compare_exchange_strong(none, job)) {
        m_slot = &slot;
        break;
      }
    }
    // A request that came before the job was listed.
    if (g_interrupted) job->Cancel();
  }
  ~CListedJob() {
    if (m_slot) m_slot->store(nullptr);
  }
  CListedJob(const CListedJob&) = delete;
  CListedJob& operator=(const CListedJob&) = delete;

 private:
  std::atomic<CConvertJob*>* m_slot = nullptr;
};

// The command line as CLI11 leaves it.
struct ConvertArguments {
  std::string wordList;
  std::string package;
  std::vector<std::string> wordLists;  // as given; wordList is the one converted
  std::string outDir;
  unsigned jobs = 1;
  bool unescape = false;
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
// conversion service; failures are told to sink. Returns the exit status to stop with,
// or -1 to go on.
int ResolveRun(const ConvertArguments& args, ConvertRun* run, IWarningSink& sink) {
  ConvertRequest& request = run->request;
  request.fromStandardInput = args.wordList == "-";
  request.format = args.from == "auto" ? InputFormatOf(Utf8ToWideText(args.wordList))
                                       : *InputFormatNamed(args.from);
  if (request.fromStandardInput && IsDictionaryFormat(request.format))
    return UsageError("convert", "a dictionary is read from its files, not from standard input");
  request.keepMarkup = args.keepMarkup;
  request.duplicates = DuplicateNames().at(args.duplicates);
  request.unescape = args.unescape;
  if (request.fromStandardInput && args.package.empty())
    return UsageError("convert", "a word list from standard input ('-') needs -o PACKAGE");
  // The package is written beside its final place and moved there, which a stream cannot do.
  if (args.package == "-") return UsageError("convert", "the package cannot go to standard output");
  // LumoDict lists a package only by the extension ".ldic", spelled so: an entry under any
  // other name is of no use and its next registration drops it.
  if (args.registerPackage && !args.package.empty() && PathFromUtf8(args.package).extension() != ".ldic")
    return UsageError("convert", "--register needs a package named *.ldic, the only name LumoDict lists");

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
      sink.ShowWarning(MessageFor(read), read);
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
      sink.ShowWarning(problem->message, problem->cause);
      return kExitFailure;
    }
  }
  run->timings = args.timings;
  run->registerPackage = args.registerPackage;
  run->settings = args.ini.empty() ? platform::LumoDictSettingsPath()
                                   : PathToWide(fs::absolute(PathFromUtf8(args.ini), ec));
  run->quiet = IsQuiet();
  run->strict = args.strict;
  // "-": standard output, where COutputFile writes it.
  if (!args.report.empty())
    run->report = args.report == "-" ? fs::path("-") : fs::absolute(PathFromUtf8(args.report), ec);
  if (args.encoding.starts_with("cp")) {
    run->encoding = TextEncoding::Ansi;
    run->request.codePage = static_cast<unsigned>(std::stoul(args.encoding.substr(2)));
  } else if (args.encoding != "auto") {
    run->encoding = EncodingNames().at(args.encoding);
  }
  return -1;
}

// How one conversion ended.
struct ConversionEnd {
  std::unique_ptr<CConvertJob> job;
  bool written = false;
  bool strictFailure = false;  // converted, but --strict refused the package
  double writeSeconds = 0;     // writing the package and removing the temporary files
};

// Runs one conversion on a worker thread, as the dialog does, and ends it: the report
// written when asked, the package written, the temporary files removed. Failures are told
// to observer. The caller has armed the requests to stop (ArmInterrupts).
ConversionEnd Convert(const ConvertRun& run, CliObserver& observer) {
  ConversionEnd end;
  const ConvertRequest& request = run.request;
  const std::u16string metaBlock = BuildMetadataBlock(request.facts);
  end.job = PrepareConversion(request, &observer, run.encoding);
  CConvertJob& job = *end.job;
  bool converted = false;
  {
    const CListedJob listed(&job);
    observer.ShowProgress(5);
    CJoiningThread worker;
    worker.Start([&job] { ConvertThreadProc(&job); });
    converted = observer.Wait();
    worker.Join();
  }
  // Ctrl+C just as the worker ended: nothing is written.
  if (g_interrupted) converted = false;
  // The report is complete once the list was read, also when it gave no entry.
  const CRunReport& report = job.Report();
  const bool listRead =
      !g_interrupted && (converted || job.Outcome().Kind() == StatusKind::kNoEntries);
  bool reportWritten = true;
  if (listRead && run.report) reportWritten = WriteReportFile(*run.report, report, request.codePage);
  end.strictFailure = converted && run.strict && report.HasProblems();
  if (end.strictFailure || !reportWritten) converted = false;

  const auto start = std::chrono::steady_clock::now();
  end.written = FinishConversion(job, converted, request.package, metaBlock,
                                 [&observer](int percent) { observer.ShowProgress(percent); },
                                 observer);
  observer.EndProgressLine();
  end.writeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return end;
}

// What --strict says of a package it refused.
std::string StrictRefusal(const CRunReport& report) {
  if (report.CountsEntries())
    return "--strict: " + std::to_string(report.SkippedEntries()) + " entries skipped; no package written";
  return "--strict: " + std::to_string(report.SkippedLines()) + " lines skipped, " +
         std::to_string(report.RepairedLines()) + " repaired; no package written";
}

// Runs the conversion, tells its outcome and registers the package when asked; returns
// the exit status.
int RunConversion(const ConvertRun& run) {
  const ConvertRequest& request = run.request;
  // With --report -, standard output holds the report alone.
  std::FILE* const results = run.report && *run.report == "-" ? stderr : stdout;
  CliObserver observer(!run.quiet && platform::StderrIsTerminal(), run.settings, nullptr, results);
  ArmInterrupts();
  const ConversionEnd end = Convert(run, observer);
  const CConvertJob& job = *end.job;
  const CRunReport& report = job.Report();
  if (run.timings && end.written) {
    const ConvertPhaseTimes& t = job.PhaseTimes();
    std::fprintf(stderr, "phase read %.3f\nphase sort %.3f\nphase write-data %.3f\nphase compress %.3f\n"
                 "phase write-package %.3f\n", t.read, t.sort, t.writeData, t.compress, end.writeSeconds);
  }
  if (g_interrupted) {
    PrintFailure(UserMessage::kConvertCancelled);
    return platform::InterruptExitStatus(platform::ReceivedInterrupt());
  }
  if (end.strictFailure) {
    if (!run.quiet) PrintSummary(report, run.request.codePage, request.duplicates);
    PrintError(StrictRefusal(report));
  }
  if (!end.written) return kExitFailure;  // the user has been told why
  if (!run.quiet) {
    std::fprintf(results, "%s: %zu entries\n", WideToUtf8(request.package).c_str(), job.Result().index.EntryCount());
    std::fflush(results);
    PrintSummary(report, run.request.codePage, request.duplicates);
  }
  // Only a complete package is registered, after its temporary files are gone.
  if (!run.registerPackage) return kExitSuccess;
  return RegisterWithHost(request.package, run.settings, observer) == RegisterOutcome::kRegistered
             ? kExitSuccess
             : kExitFailure;
}

// ---- Several word lists at once: --out-dir ----

// What a batch tells of one word list's failures, a line each, and of its registration.
class CRecordingSink : public IWarningSink {
 public:
  explicit CRecordingSink(std::wstring settings) : m_settings(std::move(settings)) {}
  void ShowWarning(UserMessage message, const Status& cause) override {
    if (message == UserMessage::kRegistered)
      m_registered = true;
    else
      m_lines.push_back(CConsoleWarningSink::FailureText(message, cause, m_settings));
  }
  void Add(std::string line) { m_lines.push_back(std::move(line)); }
  const std::vector<std::string>& Lines() const { return m_lines; }
  bool Registered() const { return m_registered; }

 private:
  const std::wstring m_settings;
  std::vector<std::string> m_lines;
  bool m_registered = false;
};

// The package a word list gets in a folder: NAME.ldic, NAME being its file name without
// its last extension.
fs::path PackageInFolder(const fs::path& folder, const std::string& wordList) {
  return folder / PathFromUtf8(wordList).stem().concat(".ldic");
}

// The folder of --out-dir, made with its parents when missing; false when it cannot be.
bool MakeOutputFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::create_directories(folder, ec) || fs::is_directory(folder)) return true;
  if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
  PrintWriteFailure("cannot create the folder",
                    Status::Error(StatusKind::kIoError, PathToWide(folder), ec.value(), ec.message()));
  return false;
}

// One word list of a batch, as it ended.
struct BatchItem {
  enum class State { kWaiting, kConverted, kFailed, kStopped };
  State state = State::kWaiting;
  std::wstring package;
  size_t entries = 0;
  uint64_t skipped = 0, repaired = 0;
  bool countsEntries = false;
  std::vector<std::string> messages;  // failures and warnings, a line each
};

// Converts each word list into DIR/NAME.ldic, up to --jobs at once, each through the very
// conversion a single word list gets; a failure stops only its own list. stdout gets
// "PACKAGE: N entries" for each package in the order of the lists, stderr a line per list
// at the end. Ctrl+C cancels every running conversion and starts no other.
int RunBatch(const ConvertArguments& args) {
  std::error_code ec;
  const fs::path folder = fs::absolute(PathFromUtf8(args.outDir), ec).lexically_normal();
  const size_t count = args.wordLists.size();
  std::vector<fs::path> packages;
  // Two lists for one package would overwrite each other; letter case aside, as on
  // Windows, where the packages are used.
  std::map<std::string, size_t> taken;
  for (size_t i = 0; i < count; ++i) {
    const std::string& list = args.wordLists[i];
    if (list == "-") return UsageError("convert", "standard input ('-') cannot be one of several word lists");
    if (!PathFromUtf8(list).has_stem()) return UsageError("convert", list + " names no file");
    packages.push_back(PackageInFolder(folder, list));
    std::string key = PathToUtf8(packages.back().filename());
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (const auto [at, added] = taken.emplace(key, i); !added)
      return UsageError("convert", args.wordLists[at->second] + " and " + list + " would both become " +
                                       PathToUtf8(packages.back().filename()) +
                                       " in the folder; convert one of them on its own");
  }
  if (!MakeOutputFolder(folder)) return kExitFailure;

  std::vector<BatchItem> items(count);
  const unsigned jobs = static_cast<unsigned>(std::min<size_t>(args.jobs, count));
  // The cores are shared among the conversions; the packages are the same for any count.
  const unsigned threads = args.threads != 0 ? args.threads : std::max(1u, ThreadCount(0) / jobs);
  const bool showProgress = !IsQuiet() && platform::StderrIsTerminal();
  std::atomic<size_t> next{0};
  std::mutex finishing;
  size_t done = 0, told = 0;  // lists ended; packages told on stdout, in the lists' order

  const auto convertOne = [&](size_t i) {
    BatchItem item;
    ConvertArguments one = args;
    one.wordList = args.wordLists[i];
    one.package = PathToUtf8(packages[i]);
    one.threads = threads;
    ConvertRun run;
    CRecordingSink sink(L"");
    if (ResolveRun(one, &run, sink) >= 0) {
      item.state = BatchItem::State::kFailed;
    } else {
      CliObserver observer(false, run.settings, &sink);
      const ConversionEnd end = Convert(run, observer);
      const CRunReport& report = end.job->Report();
      item.package = run.request.package;
      item.countsEntries = report.CountsEntries();
      item.skipped = report.SkippedLines() + report.UnreadableEntries() + report.BinaryOnlyEntries();
      item.repaired = report.RepairedLines();
      if (g_interrupted) {
        item.state = BatchItem::State::kStopped;
      } else if (end.written) {
        item.state = BatchItem::State::kConverted;
        item.entries = end.job->Result().index.size();
      } else {
        item.state = BatchItem::State::kFailed;
        if (end.strictFailure) sink.Add(StrictRefusal(report));
      }
    }
    item.messages = sink.Lines();
    if (item.state == BatchItem::State::kFailed && item.messages.empty()) item.messages.push_back("no package written");

    std::lock_guard lock(finishing);
    items[i] = std::move(item);
    ++done;
    for (; told < count && items[told].state != BatchItem::State::kWaiting; ++told) {
      if (items[told].state != BatchItem::State::kConverted || IsQuiet()) continue;
      if (showProgress) std::fputc('\r', stderr);
      std::printf("%s: %zu entries\n", WideToUtf8(items[told].package).c_str(), items[told].entries);
      std::fflush(stdout);
    }
    if (showProgress) {
      std::fprintf(stderr, "\rconverted %zu of %zu", done, count);
      std::fflush(stderr);
    }
  };
  const auto work = [&] {
    for (size_t i; !g_interrupted && (i = next++) < count;) convertOne(i);
  };
  ArmInterrupts();
  {
    std::vector<CJoiningThread> workers(jobs - 1);
    for (CJoiningThread& worker : workers) worker.Start(work);
    work();
  }
  if (showProgress) std::fputc('\n', stderr);
  if (g_interrupted) {
    PrintFailure(UserMessage::kConvertCancelled);
    return platform::InterruptExitStatus(platform::ReceivedInterrupt());
  }

  // The packages are added to LumoDict's list one after the other, in the lists' order.
  bool registrationFailed = false;
  std::vector<bool> registered(count, false);
  if (args.registerPackage) {
    for (size_t i = 0; i < count; ++i) {
      if (items[i].state != BatchItem::State::kConverted) continue;
      const std::wstring ini = args.ini.empty() ? platform::LumoDictSettingsPath()
                                                : PathToWide(fs::absolute(PathFromUtf8(args.ini), ec));
      CRecordingSink sink(ini);
      RegisterWithHost(items[i].package, ini, sink);
      registered[i] = sink.Registered();
      registrationFailed = registrationFailed || !registered[i];
      for (const std::string& line : sink.Lines()) items[i].messages.push_back(line);
    }
  }

  size_t failed = 0;
  for (size_t i = 0; i < count; ++i) {
    const BatchItem& item = items[i];
    const std::string& list = args.wordLists[i];
    if (item.state == BatchItem::State::kConverted) {
      if (!IsQuiet()) {
        std::string line = list + ": " + std::to_string(item.entries) + " entries (" +
                           std::to_string(item.skipped) + (item.countsEntries ? " entries" : " lines") +
                           " skipped, " + std::to_string(item.repaired) + " repaired)";
        if (registered[i]) line += ", registered";
        std::fprintf(stderr, "%s\n", line.c_str());
      }
    } else {
      ++failed;
    }
    for (const std::string& message : item.messages) PrintError(list + ": " + message);
  }
  if (!IsQuiet())
    std::fprintf(stderr, "converted %zu of %zu word lists%s\n", count - failed, count,
                 failed > 0 ? (", " + std::to_string(failed) + " failed").c_str() : "");
  std::fflush(stderr);
  return failed > 0 || registrationFailed ? kExitFailure : kExitSuccess;
}

// Which of the paths a command line takes: one word list, as given or into --out-dir, or a
// batch (run here). Returns the exit status to stop with, or -1 to convert args->wordList.
int ResolveWordLists(ConvertArguments* args) {
  const bool several = args->wordLists.size() > 1;
  if (several && args->outDir.empty())
    return UsageError("convert", "several word lists need --out-dir DIR, which gets a package for each "
                                 "(-o names one package)");
  if (several) {
    for (const auto& [given, option] : {std::pair{args->haveName, "--name"},
                                        {!args->report.empty(), "--report"},
                                        {args->timings, "--timings"}})
      if (given) return UsageError("convert", std::string(option) + " is for one word list, not several");
    return RunBatch(*args);
  }
  args->wordList = args->wordLists.front();
  if (args->outDir.empty()) return -1;
  if (args->wordList == "-")
    return UsageError("convert", "a word list from standard input ('-') has no name for --out-dir; "
                                 "give -o PACKAGE");
  if (!PathFromUtf8(args->wordList).has_stem())
    return UsageError("convert", args->wordList + " names no file");
  std::error_code ec;
  const fs::path folder = fs::absolute(PathFromUtf8(args->outDir), ec).lexically_normal();
  if (!MakeOutputFolder(folder)) return kExitFailure;
  args->package = PathToUtf8(PackageInFolder(folder, args->wordList));
  return -1;
}

}  // namespace

LdicCommand AddConvertCommand(CLI::App& ldic) {
  auto args = std::make_shared<ConvertArguments>();
  CLI::App& command = NewCommand(ldic, "convert", kConvertDescription, kConvertFooter);
  command.add_option("WORDLIST", args->wordLists,
                     "the word list, - for standard input, a StarDict\n"
                     "dictionary's .ifo or an MDict dictionary's .mdx; several\n"
                     "with --out-dir")
      ->required();
  CLI::Option* output = command.add_option("-o,--output", args->package,
                                           "where to write the package (default: WORDLIST with the\n"
                                           "extension .ldic)");
  output->option_text("PACKAGE");
  CLI::Option* outDir = command.add_option("--out-dir", args->outDir,
                                           "write each package into DIR as NAME.ldic, NAME being\n"
                                           "its word list's file name without its extension");
  outDir->option_text("DIR")->excludes(output);
  command.add_option("--jobs", args->jobs,
                     "with --out-dir: how many word lists are converted at\n"
                     "once, 1 to 64 (default: 1)")
      ->check(CLI::Range(1u, kMaxJobs))
      ->needs(outDir)
      ->option_text("N");
  command.add_flag("--unescape", args->unescape,
                   "read \\n, \\r, \\t and \\\\ in a word list's explanations as\n"
                   "what they stand for, as ldic dump writes them");
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
                     "or dropped by --duplicates, to FILE (- for stdout),\n"
                     "tab-separated: line number, reason, the line or the headword\n"
                     "(at most 200 bytes)")
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
            if (const int status = ResolveWordLists(args.get()); status >= 0) return status;
            ConvertRun run;
            CConsoleWarningSink console;
            const int status = ResolveRun(*args, &run, console);
            return status >= 0 ? status : RunConversion(run);
          }};
}
