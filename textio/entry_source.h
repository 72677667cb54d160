#pragma once
// Where a conversion's entries come from: a word list (a file, standard input or a pipe),
// or a dictionary in a foreign format. The job reads a source once, keeping what fits;
// a source that can give the same entries again is read once more for every window of
// the data file when their explanations did not fit.
//
// Each format has its own source in a folder of its own (textio/ for word lists,
// stardict/, mdict/, ...); the conversion service picks one by the input's kind.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "textio/run_report.h"

// How a reading goes on: it stops soon after *running is cleared, and tells how far it
// has got as done of total (any unit, total fixed for the reading; total 0 when unknown).
struct SourceReading {
  const std::atomic<bool>* running = nullptr;
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Threads that may parse at once; 0 means one per core.
  unsigned threads = 0;

  bool Running() const { return running == nullptr || running->load(std::memory_order_relaxed); }
};

class IEntrySource {
 public:
  // Hands on the entry at position i (from 0, without gaps, in the source's order); false
  // to stop reading. The views are valid during the call only. A sink the reading is told
  // is concurrent may be called by two threads at once, for different entries.
  using EntrySink = std::function<bool(size_t i, std::string_view word, std::string_view explanation)>;

  virtual ~IEntrySource() = default;

  // Whether the source could be opened; a failure names the file and the reason, and
  // Convert reports it.
  virtual const Status& Opened() const = 0;
  // The input's path, for messages; empty for a stream.
  virtual std::wstring Path() const { return {}; }
  // Bytes of the input, by which the job measures what it may hold in memory; 0 when
  // unknown (a stream).
  virtual uint64_t Size() const = 0;

  // Reads every entry once, handing each usable one to sink and telling report of every
  // line or entry read, left out or repaired. A failure, or ok also when the sink stopped
  // the reading or the run was cancelled.
  virtual Status Read(const EntrySink& sink, CRunReport* report, const SourceReading& how) = 0;

  // Whether ReadAgain gives the entries of the first reading once more.
  virtual bool CanReadAgain() const { return false; }
  // The entries once more, in the same order, concurrent when allowed; a failure of kind
  // kInputChanged when the source is not what the first reading saw.
  virtual Status ReadAgain(const EntrySink& sink, bool concurrent, const SourceReading& how) {
    (void)sink, (void)concurrent, (void)how;
    return Status::Error(StatusKind::kInputChanged, {}, 0, "cannot be read again");
  }
  // Nothing more will be read: files may be closed and scratch files removed. False when
  // a scratch file of the source's could not be removed.
  virtual bool Close() { return true; }
};

// A dictionary, read from its own files: its entries are counted and numbered as entries
// of UTF-8 text, and it can be read again while its files are what the first reading saw.
class CDictionarySource : public IEntrySource {
 public:
  bool CanReadAgain() const override { return true; }

  Status Read(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    if (!Opened()) return Opened();
    report->SetEncoding(TextEncoding::Utf8);
    report->SetCountsEntries();
    return ReadEntries(sink, report, how);
  }

  Status ReadAgain(const EntrySink& sink, bool, const SourceReading& how) override {
    if (!Unchanged())
      return Status::Error(StatusKind::kInputChanged, Path(), 0, "the dictionary changed while it was converted");
    CRunReport ignored;
    return ReadEntries(sink, &ignored, how);
  }

 protected:
  // One reading of every entry of an opened dictionary, each told to report.
  virtual Status ReadEntries(const EntrySink& sink, CRunReport* report, const SourceReading& how) = 0;
  // Whether the dictionary's files still have the sizes and times they had when opened.
  virtual bool Unchanged() const = 0;
};
