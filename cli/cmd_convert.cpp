// ldic convert: the dialog's conversion from the command line. The job runs on a worker
// thread exactly as in the dialog; this thread waits for its end and then writes the
// package, as the dialog's completion handler does.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "platform/console.h"
#include "platform/settings_location.h"
#include "service/conversion_service.h"

namespace fs = std::filesystem;

namespace {

constexpr char kConvertUsage[] =
    "usage: ldic convert WORDLIST [-o PACKAGE] [--name N] [--author A] [--lumo L]\n"
    "                    [--version V] [--date D] [--threads N] [--register [--ini SETTINGS]]\n"
    "\n"
    "Converts WORDLIST into a .ldic package.\n"
    "  -o PACKAGE    where to write the package (default: beside WORDLIST, extension .ldic)\n"
    "  --name N      dictionary name (default: WORDLIST's base name)\n"
    "  --author A    author\n"
    "  --lumo L      the author's Lumo number\n"
    "  --version V   version\n"
    "  --date D      date text (default: today in the long date format)\n"
    "  --threads N   threads for compression (default: one per core); the package is the\n"
    "                same for every count\n"
    "  --register    add the package to LumoDict's list of dictionaries afterwards\n"
    "  --ini SETTINGS  LumoDict's settings file for --register (default: LumoDict's own)\n"
    "  --timings     print the seconds of each phase on stderr (\"phase NAME SECONDS\")\n"
    "The temporary files LumoDictTemp.des and LumoDictTemp.des.dz are made in the package's\n"
    "folder and deleted afterwards.\n"
    "Example: ldic convert words.txt -o out/words.ldic --name \"My words\" --author Me\n";

// Reports the worker's progress on the terminal and hands its end to the waiting thread.
class CliObserver : public IConvertObserver {
 public:
  explicit CliObserver(bool showProgress) : m_showProgress(showProgress) {}

  void OnConvertProgress(int percent) override { ShowProgress(percent); }

  void OnConvertDone(bool success, CConvertJob*) override {
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_success = success;
    m_cv.notify_all();
  }

  void ShowWarning(UserMessage message, const Status& cause) override {
    EndProgressLine();
    PrintFailure(message, cause);
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
  if (CConvertJob* job = g_runningJob.load()) job->Cancel();
}

struct ConvertOptions {
  std::string wordList;
  std::string package;
  PackageFacts facts;
  bool haveName = false;
  bool haveDate = false;
  unsigned threads = 0;
  bool timings = false;
  bool registerPackage = false;
  std::string ini;
};

// Parses the arguments; returns an exit status to stop with, or -1 to go on.
int ParseOptions(int argc, char** argv, ConvertOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kConvertUsage, stdout);
      return 0;
    }
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        PrintError((arg + " needs a value (see ldic convert --help)").c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "-o" || arg == "--output") {
      if (!value(&options->package)) return 2;
    } else if (arg == "--name" || arg == "--author" || arg == "--lumo" || arg == "--version" ||
               arg == "--date") {
      if (!value(&text)) return 2;
      const std::wstring wide = Utf8ToWideText(text);
      if (arg == "--name") options->facts.name = wide, options->haveName = true;
      if (arg == "--author") options->facts.author = wide;
      if (arg == "--lumo") options->facts.lumo = wide;
      if (arg == "--version") options->facts.version = wide;
      if (arg == "--date") options->facts.date = wide, options->haveDate = true;
    } else if (arg == "--register") {
      options->registerPackage = true;
    } else if (arg == "--ini") {
      if (!value(&options->ini)) return 2;
    } else if (arg == "--timings") {
      options->timings = true;
    } else if (arg == "--threads") {
      if (!value(&text)) return 2;
      char* end = nullptr;
      const long n = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || n < 1 || n > 256) {
        PrintError("--threads needs a number from 1 to 256");
        return 2;
      }
      options->threads = static_cast<unsigned>(n);
    } else if (!arg.empty() && arg[0] == '-') {
      PrintError(("unknown option " + arg + " (see ldic convert --help)").c_str());
      return 2;
    } else if (options->wordList.empty()) {
      options->wordList = arg;
    } else {
      PrintError(("unexpected argument " + arg + " (see ldic convert --help)").c_str());
      return 2;
    }
  }
  if (options->wordList.empty()) {
    std::fputs(kConvertUsage, stderr);
    return 2;
  }
  return -1;
}

}  // namespace

int RunConvertCommand(int argc, char** argv) {
  ConvertOptions options;
  if (const int status = ParseOptions(argc, argv, &options); status >= 0) return status;

  std::error_code ec;
  const fs::path wordList = PathFromUtf8(options.wordList);
  fs::path package = options.package.empty() ? fs::path(wordList).replace_extension(".ldic")
                                             : PathFromUtf8(options.package);
  package = fs::absolute(package, ec);

  ConvertRequest request;
  request.wordList = PathToWide(wordList);
  request.package = PathToWide(package);
  request.folder = PathToWide(package.parent_path());
  request.facts = options.facts;
  if (!options.haveName) request.facts.name = PathToWide(wordList.stem());
  if (!options.haveDate) request.facts.date = platform::TodayLongDate();
  request.threads = options.threads;
  for (const auto& check : {CheckConvertPaths, CheckConvertFacts}) {
    if (const std::optional<UserMessage> problem = check(request)) {
      PrintFailure(*problem);
      return 1;
    }
  }
  const std::u16string metaBlock = BuildMetadataBlock(request.facts);

  CliObserver observer(platform::StderrIsTerminal());
  const std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
  g_runningJob = job.get();
  platform::SetInterruptHandler(&OnInterrupt);
  observer.ShowProgress(5);
  std::thread worker(ConvertThreadProc, job.get());
  bool converted = observer.Wait();
  worker.join();
  g_runningJob = nullptr;
  // Ctrl+C after the reading phase: the run goes on to its end, but nothing is written.
  if (g_interrupted) converted = false;

  const auto start = std::chrono::steady_clock::now();
  const bool written = FinishConversion(*job, converted, request.package, metaBlock,
                                        [&observer](int percent) { observer.ShowProgress(percent); },
                                        observer);
  observer.EndProgressLine();
  if (options.timings && written) {
    const ConvertPhaseTimes& t = job->PhaseTimes();
    const double write = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "phase read %.3f\nphase sort %.3f\nphase write-data %.3f\nphase compress %.3f\n"
                 "phase write-package %.3f\n", t.read, t.sort, t.writeData, t.compress, write);
  }
  if (g_interrupted) {
    PrintFailure(UserMessage::kConvertCancelled);
    return 130;
  }
  if (!written) return 1;  // the user has been told why
  std::printf("%s: %zu entries\n", PathToUtf8(package).c_str(), job->Result().entries.size());
  // Only a complete package is registered, after its temporary files are gone.
  if (!options.registerPackage) return 0;
  const std::wstring settings =
      options.ini.empty() ? platform::LumoDictSettingsPath() : PathToWide(PathFromUtf8(options.ini));
  return RegisterWithHost(request.package, settings, observer) == RegisterOutcome::kRegistered ? 0 : 1;
}
