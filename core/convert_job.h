#pragma once
// One conversion, from the word list to the two temporary data files the package is
// made from. The front end creates a job, opens the word list into it, sets m_running and
// runs ConvertThreadProc on a thread of its own; the job reports through its observer.
//
// Threads: while the worker runs, the only field both threads touch is m_running, which
// the front end clears to cancel. The worker polls it while it reads the word list (at
// least every few thousand lines); once reading is over it is not consulted again. A
// UTF-8 list may be parsed by a helper thread of the job's own, joined before reading
// ends.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/dict_entry.h"
#include "common/text_arena.h"
#include "common/user_messages.h"
#include "platform/file.h"

class CConvertJob;
class CTextFileRead;

// How a job tells its front end what happens. The dialog turns these calls into
// WM_CONVERT_PROGRESS (sent), WM_CONVERT_DONE (posted) and a message box.
class IConvertObserver {
 public:
  virtual ~IConvertObserver() = default;
  // Called on the worker thread; returns once the front end has shown the position.
  virtual void OnConvertProgress(int percent) = 0;
  // Called on the worker thread as its last action; the front end finishes the run on
  // its own thread.
  virtual void OnConvertDone(bool success, CConvertJob* job) = 0;
  // A failure the user must be told of; returns once the user has seen it.
  virtual void OnConvertWarning(UserMessage message) = 0;
};

// Why Convert ended; the observer has already been told of every failure that has a
// message.
enum class ConvertOutcome {
  kNotRun,
  kSuccess,
  kCancelled,
  kInputUnreadable,  // "无法打开导入文件，..."
  kTooBig,           // "词库过大，无法转换。"
  kWriteFailed,      // "转换失败，请您重新转换"
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
  // The temporary files go to folder.
  explicit CConvertJob(std::wstring folder);
  CConvertJob(const CConvertJob&) = delete;
  CConvertJob& operator=(const CConvertJob&) = delete;

  void SetObserver(IConvertObserver* observer) { m_observer = observer; }
  IConvertObserver* Observer() const { return m_observer; }

  // Opens the word list read-only and without sharing. A failure is noted here and
  // reported by Convert.
  void OpenInput(const std::wstring& path);
  // Takes the word list from standard input instead. Its size is unknown, so it is read
  // line by line, which gives the same entries as reading a file whole.
  void OpenStandardInput();

  // Reads, sorts, writes and compresses; true on success.
  bool Convert();
  ConvertOutcome Outcome() const { return m_outcome; }
  const ConvertPhaseTimes& PhaseTimes() const { return m_times; }

  // Holds the texts that the entries view; declared first so that it outlives them.
  CTextArena m_text;
  std::vector<DictEntry> m_entries;
  platform::CFile m_inputFile;
  uint32_t m_indexSize = 0;
  uint32_t m_dataSize = 0;
  uint32_t m_compressedSize = 0;
  std::wstring m_curDir;
  std::wstring m_desPath;
  std::wstring m_dzPath;
  bool m_compress = true;
  std::atomic<bool> m_running{false};
  // Threads used to compress the data; 0 means one per core.
  unsigned m_threads = 0;

 private:
  bool ReadWordList();
  // Each true unless the list is too big; a read error is left for ReadWordList.
  bool ReadWholeUtf8List(CTextFileRead& reader);
  bool ReadWholeUtf16List(CTextFileRead& reader);
  bool ReadListByLines(CTextFileRead& reader);
  // Threads that may parse a list read whole.
  unsigned ParsingThreads() const;
  // Keeps the totals of a finished reading; false when the list is too big.
  bool RecordSizes(bool tooBig, uint64_t indexSize, uint64_t dataSize);
  bool WriteOutput();
  bool Fail(ConvertOutcome outcome, bool tellUser);
  void Progress(int percent);

  IConvertObserver* m_observer = nullptr;
  ConvertOutcome m_outcome = ConvertOutcome::kNotRun;
  ConvertPhaseTimes m_times;
  bool m_inputOpened = false;
  uint64_t m_inputSize = 0;
};

// The worker thread's entry procedure: runs Convert and reports the end through the
// job's observer. Its signature fits CreateThread and any other thread launcher.
unsigned long ConvertThreadProc(void* job);
