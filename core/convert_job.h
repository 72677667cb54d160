#pragma once
// One conversion, from the word list to the two temporary data files the package is
// made from. The front end creates a job, opens the word list into it, calls Start and
// runs ConvertThreadProc on a thread of its own; the job reports through its observer and
// leaves its product in Result().
//
// Threads: while the worker runs, the only state both threads touch is the keep-running
// flag, which Cancel clears. The worker and its helper threads poll it in every phase:
// every few thousand lines while reading, between ranges of the sort, every few thousand
// lines while the data file is filled and before every chunk it compresses, so that a
// cancelled run ends within milliseconds with a kCancelled outcome. A UTF-8 or UTF-16
// list may be parsed by a helper thread of the job's own, joined after every piece.
//
// Memory: the first reading keeps the headwords and 16 bytes per entry, and the
// explanations too while they, the index and the sort's keys fit the list's share of
// memory; the data file is then written from memory in index order. A word list that is a
// file and does not fit is read twice instead: the explanations are let go, and once the
// sort has placed every explanation in the data file the list is read again through the
// same parser to copy them there, into a window of the data file as large as the list's
// share of memory allows (a window that cannot hold the data takes one more reading per
// window). A list that cannot be read again (standard input) keeps its explanations
// whatever they take. A list that changes between the readings fails the run
// (kInputChanged) rather than give a wrong package.
//
// Progress: the front end puts the bar at 5; reading moves it to 28 by bytes parsed,
// sorting ends at 30, the data file moves it to 50 by entries written and compression to
// 80 by chunks done. Positions only increase, a few dozen per phase.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/dict_entry.h"
#include "common/status.h"
#include "common/text_store.h"
#include "common/user_messages.h"
#include "common/warning_sink.h"
#include "package/convert_result.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "stardict/stardict_reader.h"
#include "textio/run_report.h"

class CConvertJob;
class CTextFileRead;

// How a job tells its front end what happens. The dialog turns these calls into
// WM_CONVERT_PROGRESS (sent), WM_CONVERT_DONE (posted) and a message box.
class IConvertObserver : public IWarningSink {
 public:
  // Called on the worker thread; returns once the front end has shown the position.
  virtual void OnConvertProgress(int percent) = 0;
  // Called on the worker thread as its last action; the front end finishes the run on
  // its own thread.
  virtual void OnConvertDone(bool success, CConvertJob* job) = 0;
  // A failure the user must be told of comes through ShowWarning, on the worker thread.
};

// Seconds spent in each phase of the last Convert, for benchmarks.
struct ConvertPhaseTimes {
  double read = 0;       // reading and parsing the word list
  double sort = 0;       // sorting and assigning offsets
  double writeData = 0;  // writing the uncompressed data file
  double compress = 0;   // compressing it
};

class CConvertJob {
 public:
  // The temporary files go to the process's current directory as it is now.
  CConvertJob();
  // The temporary files go to folder. They are created when the output phase begins,
  // under the first free pair of names (package/temp_files.h).
  explicit CConvertJob(const std::wstring& folder);
  CConvertJob(const CConvertJob&) = delete;
  CConvertJob& operator=(const CConvertJob&) = delete;

  void SetObserver(IConvertObserver* observer) { m_observer = observer; }
  IConvertObserver* Observer() const { return m_observer; }
  // Threads used to parse, sort and compress; 0 means one per core. The result is the
  // same for every count.
  void SetThreads(unsigned threads) { m_threads = threads; }
  // Lists from this size on are parsed by two threads when there are two; tests lower it
  // so that small lists take that path too.
  void SetParallelParseFrom(size_t bytes) { m_parallelParseFrom = bytes; }
  // Tests make the pieces a list file is read in and the window of the data file small,
  // so that small lists cross many piece boundaries and take several readings.
  void SetPieceSize(size_t bytes) { m_pieceSize = bytes; }
  void SetWindowSize(size_t bytes) { m_windowSize = bytes; }
  // The most the first reading may hold of explanations, index and sort keys before it
  // lets the explanations go and reads the list again; tests lower it so that small
  // lists are read twice.
  void SetHoldLimit(uint64_t bytes) { m_holdLimit = bytes; }

  // Opens the word list read-only and without sharing. A failure is noted here and
  // reported by Convert.
  void OpenInput(const std::wstring& path);
  // Takes the word list from standard input instead. Its size is unknown, so it is read
  // line by line, which gives the same entries as reading a file in pieces.
  void OpenStandardInput();
  // Takes the entries of a StarDict dictionary, named by its .ifo, instead of a word list:
  // each is taken as it is, without the splitting and trimming of a word-list line. A
  // dictionary that cannot be read is noted here and reported by Convert.
  void OpenStarDict(const std::wstring& ifoPath, const StarDictOptions& options);
  // The dictionary's facts once it is open, else null.
  const StarDictFacts* StarDictInfo() const;
  // Reads the word list in this encoding instead of the detected one.
  void ForceEncoding(TextEncoding encoding) { m_forcedEncoding = encoding; }
  // Reads an ANSI list through this code page instead of the system's (0).
  void SetCodePage(unsigned codePage) { m_codePage = codePage; }

  // Marks the job as running; called on the front end's thread before the worker starts.
  void Start() { m_running = true; }
  // Asks a running job to stop; safe from any thread.
  void Cancel() { m_running = false; }
  // True once Cancel was called (and before Start).
  bool IsCancelled() const { return !m_running; }

  // Reads, sorts, writes and compresses; true on success. Never throws.
  bool Convert();
  // Why the last Convert ended: ok, or a failure of kind kCancelled, kInputUnreadable,
  // kNotText, kInputChanged, kTooBig or kWriteFailed with the file and the system's reason (the
  // observer has been told of every failure but a cancel).
  const Status& Outcome() const { return m_outcome; }
  const ConvertPhaseTimes& PhaseTimes() const { return m_times; }
  // Whether the last Convert read the word list a second time, its explanations not
  // having fit beside the index.
  bool ReadListAgain() const { return m_canReadAgain && !m_holding; }
  // What the last Convert made of the word list; complete once reading has ended.
  const CRunReport& Report() const { return m_report; }
  // The product of a successful Convert.
  const ConvertResult& Result() const { return m_result; }
  // For the front end once the worker has ended: writing the package, and deleting the
  // temporary files the run created.
  ConvertResult& Result() { return m_result; }

 private:
  // Hands on the parsed entry at list position i; false to stop reading. A sink that
  // is concurrent may be called by two threads at once, for different entries.
  using EntrySink = std::function<bool(size_t i, std::string_view word, std::string_view explanation)>;
  // How far a reading has got, in bytes of the file.
  using ReadProgress = std::function<void(uint64_t bytes)>;

  Status ReadWordList();
  // Reads the whole list once, through one parser whatever the reading is for, handing
  // every entry to sink in list order. report receives the lines' problems; *digest the
  // CRC-32 of the text read. A failure of kind kInputUnreadable, or ok (also when sink
  // stopped it or the run was cancelled).
  Status ParseList(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                   CRunReport* report, uint32_t* digest, const ReadProgress& progress);
  // A UTF-8 or UTF-16 list in pieces of whole lines; an ANSI one or standard input by lines.
  Status ParseInPieces(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                       CRunReport* report, uint32_t* digest, const ReadProgress& progress);
  Status ParseByLines(CTextFileRead& reader, const EntrySink& sink, CRunReport* report,
                      uint32_t* digest, const ReadProgress& progress);
  // Keeps an entry of the first reading; false once the list is too big to convert.
  bool Collect(std::string_view word, std::string_view explanation);
  // Reads the entries of a StarDict dictionary, keeping their explanations.
  Status ReadStarDict();
  // Threads that may parse the list.
  unsigned ParsingThreads() const;
  // The failure of a read of the word list.
  Status ReadFailure() const;
  Status WriteOutput();
  Status WriteDataFile(platform::CBinaryFile& data);
  // The data file's bytes [begin, end) into window, from the list read again.
  Status FillWindowFromList(char* window, uint64_t begin, uint64_t end, int pass, int passes);
  // The explanations held, in index order, giving each entry its offset on the way.
  Status WriteHeldExplanations(platform::CBinaryFile& data);
  // Whether the list file still has the size and time it had when it was opened.
  bool ListUnchanged() const;
  Status ListChanged() const;
  // Whether the explanations, the index and the sort's keys still fit what may be held.
  bool HoldingFits() const;
  // Lets the explanations go: the list will be read again.
  void LetExplanationsGo();
  // Bytes of the data file filled at a time.
  size_t WindowSize() const;
  // Ends Convert with failure, telling the observer unless the user cancelled.
  bool Fail(Status failure);
  void Progress(int percent);
  // Progress between from and to as done of total.
  void ProgressWithin(int from, int to, uint64_t done, uint64_t total);

  ConvertResult m_result;
  platform::CFile m_inputFile;
  std::wstring m_inputPath;
  std::unique_ptr<CStarDictReader> m_starDict;
  StarDictOptions m_starDictOptions;
  std::atomic<bool> m_running{false};
  unsigned m_threads = 0;
  // Below this size a second parsing thread costs more than it saves.
  size_t m_parallelParseFrom = size_t{1} << 20;
  size_t m_pieceSize = size_t{4} << 20;
  size_t m_windowSize = 0;  // 0: as memory allows
  IConvertObserver* m_observer = nullptr;
  Status m_outcome = Status::Error(StatusKind::kInvalidArgument, {}, 0, "not run");
  ConvertPhaseTimes m_times;
  CRunReport m_report;
  int m_lastProgress = 5;
  std::optional<TextEncoding> m_forcedEncoding;
  unsigned m_codePage = 0;
  Status m_inputOpened = Status::Error(StatusKind::kInputUnreadable, {}, 0, "no word list");
  // The list as it was opened: a file of this size and time can be read again.
  platform::FileStatus m_inputStatus;
  // A regular file, which can be read again.
  bool m_canReadAgain = false;
  // The explanations are being kept as they are read; until the data file is written
  // each record's offset is then its explanation's place in m_explanations.
  bool m_holding = false;
  uint64_t m_holdLimit = 0;  // 0: as the list's size allows
  uint32_t m_listDigest = 0;
  // Totals of the first reading.
  uint64_t m_indexSize = 0;
  uint64_t m_dataSize = 0;
  bool m_tooBig = false;
  CTextStore m_explanations;
};

// The worker thread's entry procedure: runs Convert and reports the end through the
// job's observer. Its signature fits CreateThread and any other thread launcher.
unsigned long ConvertThreadProc(void* job);
