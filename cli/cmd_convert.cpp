// ldic convert: the dialog's conversion from the command line. The command line is made
// into a ConvertRequest; RunConversion then runs the job on a worker thread exactly as the
// dialog does, waits for its end and writes the package, as the dialog's completion
// handler does.

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/cli_output.h"
#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "common/status.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "core/convert_job.h"
#include "package/metadata.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/console.h"

namespace fs = std::filesystem;

namespace {

constexpr char kConvertDescription[] = "make a .ldic package from a word list, as the dialog does";

constexpr char kConvertFooter[] =
    "The word list is TXT or CSV (headword, TAB or comma, explanation), in UTF-8, UTF-16\n"
    "or the ANSI code page.\n"
    "WORDLIST '-' reads the word list from standard input, with the same detection of its\n"
    "encoding and the same package as from the file; -o is then needed, and the name\n"
    "defaults to the package's base name.\n"
    "While it works, the progress is shown on stderr when that is a terminal; at the end\n"
    "\"PACKAGE: N entries\" is printed. Ctrl+C stops it (exit status 130); no package and no\n"
    "temporary file is left behind. The temporary files LumoDictTemp.des and\n"
    "LumoDictTemp.des.dz are made in the package's folder and deleted afterwards.\n"
    "Example: ldic convert words.txt -o out/words.ldic --name \"My words\" --author Me\n"
    "         some-tool | ldic convert - -o words.ldic --version=2.0";

// Reports the worker's progress on the terminal and hands its end to the waiting thread.
class CliObserver : public IConvertObserver {
 public:
  // wordList names the list in a failure to open it; empty for standard input.
  CliObserver(bool showProgress, fs::path wordList)
      : m_showProgress(showProgress), m_wordList(std::move(wordList)) {}

  void OnConvertProgress(int percent) override { ShowProgress(percent); }

  void OnConvertDone(bool success, CConvertJob*) override {
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_success = success;
    m_cv.notify_all();
  }

  void OnConvertWarning(UserMessage message) override {
    EndProgressLine();
    if (message == UserMessage::kInputOpenFailed && !m_wordList.empty())
      PrintFailure(message, WhyUnusable(m_wordList, StatusKind::kInputUnreadable, false));
    else
      PrintFailure(message);
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
  const fs::path m_wordList;
  bool m_lineOpen = false;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  bool m_success = false;
};

// Ctrl+C stops the reading phase as the dialog's cancel does; whatever the worker has
// done by then, no package is written and the temporary files are removed.
std::atomic<bool> g_interrupted{false};
std::atomic<CConvertJob*> g_runningJob{nullptr};

void OnInterrupt() {
  g_interrupted = true;
  if (CConvertJob* job = g_runningJob.load()) job->m_running = false;
}

// The command line as CLI11 leaves it.
struct ConvertArguments {
  std::string wordList;
  std::string package;
  std::string name, author, lumo, version, date;
  bool haveName = false;
  bool haveDate = false;
  unsigned threads = 0;
  bool timings = false;
  bool registerPackage = false;
  std::string ini;
};

// Makes the arguments a request, with the dialog's checks and messages. Returns the exit
// status to stop with, or -1 to go on.
int ResolveRequest(const ConvertArguments& args, ConvertRequest* request) {
  request->fromStandardInput = args.wordList == "-";
  if (request->fromStandardInput && args.package.empty())
    return UsageError("convert", "a word list from standard input ('-') needs -o PACKAGE");
  // The package is written beside its final place and moved there, which a stream cannot do.
  if (args.package == "-") return UsageError("convert", "the package cannot go to standard output");
  if (!request->fromStandardInput) request->wordList = PathFromUtf8(args.wordList);

  std::error_code ec;
  const fs::path package = args.package.empty()
                               ? fs::path(request->wordList).replace_extension(".ldic")
                               : PathFromUtf8(args.package);
  request->package = fs::absolute(package, ec);
  const fs::path folder = request->package.parent_path();

  // The same checks, and messages, as the dialog's.
  const bool inputExists = request->fromStandardInput || (fs::exists(request->wordList, ec) &&
                                                          !fs::is_directory(request->wordList, ec));
  const bool folderOk = fs::is_directory(folder, ec);
  if (!inputExists && !folderOk) {
    const std::string both =
        WhyUnusable(request->wordList, StatusKind::kNotFound, false).Where() + "; " +
        WhyUnusable(folder, StatusKind::kNotFound, true).Where();
    PrintFailure(UserMessage::kBothPathsWrong, Status::Error(StatusKind::kNotFound, {}, 0, both));
    return kExitFailure;
  }
  if (!inputExists) {
    PrintFailure(UserMessage::kInputMissing,
                 WhyUnusable(request->wordList, StatusKind::kNotFound, false));
    return kExitFailure;
  }
  if (!folderOk) {
    PrintFailure(UserMessage::kSavePathWrong, WhyUnusable(folder, StatusKind::kNotFound, true));
    return kExitFailure;
  }
  if (!request->fromStandardInput && fs::equivalent(request->wordList, request->package, ec)) {
    PrintFailure(UserMessage::kSaveIsInput,
                 Status::Error(StatusKind::kInvalidArgument, PathToWide(request->package)));
    return kExitFailure;
  }

  PackageFacts& facts = request->facts;
  facts.name = args.haveName ? Utf8ToWideText(args.name)
                             : PathToWide((request->fromStandardInput ? request->package
                                                                       : request->wordList).stem());
  if (facts.name.empty()) {
    PrintFailure(UserMessage::kNameEmpty);
    return kExitFailure;
  }
  facts.author = Utf8ToWideText(args.author);
  facts.lumo = Utf8ToWideText(args.lumo);
  facts.version = Utf8ToWideText(args.version);
  facts.date = args.haveDate ? Utf8ToWideText(args.date) : platform::TodayLongDate();

  request->threads = args.threads;
  request->timings = args.timings;
  request->registerPackage = args.registerPackage;
  if (!args.ini.empty()) request->ini = PathToWide(PathFromUtf8(args.ini));
  request->quiet = IsQuiet();
  return -1;
}

}  // namespace

LdicCommand AddConvertCommand(CLI::App& ldic) {
  auto args = std::make_shared<ConvertArguments>();
  CLI::App& command = NewCommand(ldic, "convert", kConvertDescription, kConvertFooter);
  command.add_option("WORDLIST", args->wordList, "the word list, or - for standard input")
      ->required();
  command.add_option("-o,--output", args->package,
                     "where to write the package (default: WORDLIST with the\n"
                     "extension .ldic)")
      ->option_text("PACKAGE");
  CLI::Option* name = command.add_option("--name", args->name,
                                         "the dictionary's name (default: WORDLIST's base name)");
  name->option_text("N");
  command.add_option("--author", args->author, "the author")->option_text("A");
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
  CLI::Option* registerFlag = command.add_flag(
      "--register", args->registerPackage, "add the package to LumoDict's list of dictionaries");
  command.add_option("--ini", args->ini,
                     "LumoDict's settings file for --register (default:\nLumoDict's own)")
      ->needs(registerFlag)
      ->option_text("SETTINGS");
  return {&command, [args, name, date] {
            args->haveName = name->count() > 0;
            args->haveDate = date->count() > 0;
            ConvertRequest request;
            const int status = ResolveRequest(*args, &request);
            return status >= 0 ? status : RunConversion(request);
          }};
}

int RunConversion(const ConvertRequest& request) {
  const std::u16string metaBlock = BuildMetadataBlock(request.facts);
  const fs::path& package = request.package;

  CliObserver observer(!request.quiet && platform::StderrIsTerminal(), request.wordList);
  CConvertJob job(PathToWide(package.parent_path()));
  job.SetObserver(&observer);
  job.m_threads = request.threads;
  if (request.fromStandardInput)
    job.OpenStandardInput();
  else
    job.OpenInput(PathToWide(request.wordList));
  job.m_running = true;
  g_runningJob = &job;
  platform::SetInterruptHandler(&OnInterrupt);
  observer.ShowProgress(5);
  std::thread worker(ConvertThreadProc, &job);
  const bool converted = observer.Wait();
  worker.join();
  g_runningJob = nullptr;
  job.m_running = false;

  int status = 0;
  if (g_interrupted) {
    observer.EndProgressLine();
    PrintFailure(UserMessage::kConvertCancelled);
    status = kExitInterrupted;
  } else if (converted) {
    const auto start = std::chrono::steady_clock::now();
    const PackageResult result = WritePackage(
        job, PathToWide(package), metaBlock, [&observer](int percent) { observer.ShowProgress(percent); });
    if (request.timings) {
      const ConvertPhaseTimes& t = job.PhaseTimes();
      const double write = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      observer.EndProgressLine();
      std::fprintf(stderr, "phase read %.3f\nphase sort %.3f\nphase write-data %.3f\nphase compress %.3f\n"
                   "phase write-package %.3f\n", t.read, t.sort, t.writeData, t.compress, write);
    }
    if (result != PackageResult::kWritten) {
      observer.EndProgressLine();
      const std::wstring failed = result == PackageResult::kDataMissing ? job.m_dzPath : PathToWide(package);
      PrintFailure(PackageResultMessage(result), Status::Error(StatusKind::kIoError, failed));
      status = kExitFailure;
    }
  } else {
    status = kExitFailure;  // the worker has told the user why
  }
  const bool cleaned = DeleteTempFiles(job);
  observer.EndProgressLine();
  if (!cleaned)
    PrintFailure(UserMessage::kTempDeleteFailed,
                 Status::Error(StatusKind::kIoError, job.m_desPath));
  if (status != 0) return status;
  if (!request.quiet)
    std::printf("%s: %zu entries\n", PathToUtf8(package).c_str(), job.m_entries.size());
  // Only a complete package is registered, after its temporary files are gone.
  if (request.registerPackage) status = RegisterConvertedPackage(PathToWide(package), request.ini);
  return status;
}
