#pragma once
// One conversion, from a source of entries (a word list, a dictionary; the job knows no
// format) to the two temporary data files the package is made from. The front end
// creates a job, gives it its source, calls Start and runs ConvertThreadProc on a thread
// of its own; the job reports through its observer and leaves its product in Result().
//
// Threads: while the worker runs, the only state both threads touch is the keep-running
// flag, which Cancel clears. The worker and its helper threads poll it in every phase:
// every few thousand lines while reading, between ranges of the sort, every few thousand
// lines while the data file is filled and before every chunk it compresses, so that a
// cancelled run ends within milliseconds with a kCancelled outcome. A UTF-8 or UTF-16
// list may be parsed by a helper thread of the job's own, joined after every piece.
//
// Memory: the first reading keeps the headwords and 16 bytes per entry, and the
// explanations too while they, the index and the sort's keys fit the source's share of
// memory; the data file is then written from memory in index order. A source that can be
// read again (a word list that is a file) and does not fit is read twice instead: the
// explanations are let go, and once the sort has placed every explanation in the data
// file the source is read again to copy them there, into a window of the data file as
// large as the source's share of memory allows (a window that cannot hold the data takes
// one more reading per window). A source that cannot be read again (standard input, a
// dictionary) keeps its explanations whatever they take. A source that changes between
// the readings fails the run (kInputChanged) rather than give a wrong package.
//
// Repeated headwords, when merged or dropped, are folded once the index is sorted: a bit
// per entry marks the repeats, and the data file is written once, in either way, with the
// repeats' explanations after line breaks or left out; the index then loses their records.
//
// Progress: the front end puts the bar at 5; reading moves it to 28 by bytes parsed,
// sorting ends at 30, the data file moves it to 50 by entries written and compression to
// 80 by chunks done. Positions only increase, a few dozen per phase.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/dict_entry.h"
#include "common/status.h"
#include "common/text_store.h"
#include "common/user_messages.h"
#include "common/warning_sink.h"
#include "package/convert_result.h"
#include "package/index_order.h"
#include "platform/file.h"
#include "textio/entry_source.h"

class CConvertJob;

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
  // Tests make the window of the data file small, so that small lists take several
  // readings.
  void SetWindowSize(size_t bytes) { m_windowSize = bytes; }
  // The most the first reading may hold of explanations, index and sort keys before it
  // lets the explanations go and reads the source again; tests lower it so that small
  // lists are read twice.
  void SetHoldLimit(uint64_t bytes) { m_holdLimit = bytes; }
  // What becomes of entries whose headwords are byte for byte the same: kept apart (the
  // default), merged into one, or only the first kept (package/index_order.h).
  void SetDuplicates(DuplicatePolicy policy) { m_duplicates = policy; }

  // The source of the entries (textio/entry_source.h): a word list, a dictionary. A
  // source that could not be opened is reported by Convert.
  void SetSource(std::unique_ptr<IEntrySource> source) { m_source = std::move(source); }

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
  // Whether the last Convert read its source a second time, the explanations not having
  // fit beside the index.
  bool ReadListAgain() const { return m_canReadAgain && !m_holding; }
  // What the last Convert made of the word list; complete once reading has ended.
  const CRunReport& Report() const { return m_report; }
  // The product of a successful Convert.
  const ConvertResult& Result() const { return m_result; }
  // Whether the source left a scratch file of its own that could not be removed.
  bool SourceLeftFilesBehind() const { return m_sourceLeftFiles; }
  // For the front end once the worker has ended: writing the package, and deleting the
  // temporary files the run created.
  ConvertResult& Result() { return m_result; }

 private:
  // Reads the source once, keeping every entry and, while they fit, the explanations.
  Status ReadSource();
  void CloseSource() { m_sourceLeftFiles |= !m_source->Close(); }
  // Keeps an entry of the first reading; false once the list is too big to convert.
  bool Collect(std::string_view word, std::string_view explanation);
  // The report's entries, and once the index is sorted the package's sizes less the
  // repeats folded away, or grown by the line breaks that merge them; those are named in
  // the report. A failure when the data grows past what a package can hold.
  Status CountFoldedRepeats();
  Status WriteOutput();
  Status WriteDataFile(platform::CBinaryFile& data);
  // The data file's bytes [begin, end) into window, from the source read again.
  Status FillWindowFromSource(char* window, uint64_t begin, uint64_t end, int pass, int passes);
  // The explanations held, in index order, giving each entry its offset on the way.
  Status WriteHeldExplanations(platform::CBinaryFile& data);
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
  std::unique_ptr<IEntrySource> m_source;
  bool m_sourceLeftFiles = false;
  std::atomic<bool> m_running{false};
  unsigned m_threads = 0;
  size_t m_windowSize = 0;  // 0: as memory allows
  IConvertObserver* m_observer = nullptr;
  Status m_outcome = Status::Error(StatusKind::kInvalidArgument, {}, 0, "not run");
  ConvertPhaseTimes m_times;
  CRunReport m_report;
  int m_lastProgress = 5;
  // The source can give its entries again.
  bool m_canReadAgain = false;
  // The explanations are being kept as they are read; until the data file is written
  // each record's offset is then its explanation's place in m_explanations.
  bool m_holding = false;
  uint64_t m_holdLimit = 0;  // 0: as the source's size allows
  DuplicatePolicy m_duplicates = DuplicatePolicy::kKeep;
  // Totals of the first reading.
  uint64_t m_indexSize = 0;
  uint64_t m_dataSize = 0;
  bool m_tooBig = false;
  CTextStore m_explanations;
};

// The worker thread's entry procedure: runs Convert and reports the end through the
// job's observer. Its signature fits CreateThread and any other thread launcher.
unsigned long ConvertThreadProc(void* job);
