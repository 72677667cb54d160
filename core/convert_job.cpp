#include "core/convert_job.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "common/memory_fault.h"
#include "common/prefetch.h"
#include "common/threads.h"
#include "common/utf.h"
#include "package/chunked_data.h"
#include "package/format.h"
#include "package/index_order.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "platform/memory.h"

namespace {

// The index is addressed with unsigned 32-bit offsets inside the package, behind the
// header and a metadata block the job does not know yet; keep a generous margin for it.
constexpr uint64_t kMaxIndexSize = 0xFFFFFFFFull - (1u << 20);

// The window of the data file: at least this large, however little memory the list's
// size leaves for it.
constexpr size_t kMinWindow = size_t{8} << 20;

// Seconds since start; restarts the clock.
double Lap(std::chrono::steady_clock::time_point* start) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - *start).count();
  *start = now;
  return seconds;
}

}  // namespace

CConvertJob::CConvertJob() : CConvertJob(platform::CurrentDirectory()) {}

CConvertJob::CConvertJob(const std::wstring& folder) { m_result.temp.folder = folder; }

void CConvertJob::Progress(int percent) {
  // The bar only ever moves forward, and by whole steps: a few dozen updates per phase.
  if (percent <= m_lastProgress) return;
  m_lastProgress = percent;
  if (m_observer) m_observer->OnConvertProgress(percent);
}

void CConvertJob::ProgressWithin(int from, int to, uint64_t done, uint64_t total) {
  if (total == 0) return;
  done = std::min(done, total);
  Progress(from + static_cast<int>(static_cast<uint64_t>(to - from) * done / total));
}

bool CConvertJob::Fail(Status failure) {
  m_outcome = std::move(failure);
  if (m_outcome.Kind() != StatusKind::kCancelled && m_observer)
    m_observer->ShowWarning(MessageFor(m_outcome), m_outcome);
  return false;
}

bool CConvertJob::Convert() {
  if (!m_source) return Fail(Status::Error(StatusKind::kInputUnreadable, {}, 0, "no source"));
  if (!m_source->Opened()) return Fail(m_source->Opened());
  // The explanations' blocks, let go of when they do not fit, make room for the window.
  platform::ReturnLargeBlocksWhenFreed(size_t{1} << 20);
  // The source is read again while the data file is written; closed however the run ends.
  struct CloseSource {
    CConvertJob& job;
    ~CloseSource() { job.CloseSource(); }
  } closeSource{*this};
  // Nothing is thrown across the worker thread's boundary: a list larger than the memory
  // can hold is too big to convert, and anything else unexpected fails the run.
  try {
    m_lastProgress = 5;  // where the front end has put the bar
    auto start = std::chrono::steady_clock::now();
    Status read = ReadSource();
    m_times.read = Lap(&start);
    if (!read) return Fail(std::move(read));
    // A cancel while the lines were read ends the run here, before anything is written.
    if (!m_running) return Fail(Status::Error(StatusKind::kCancelled));
    m_report.SetEntries(m_result.index.size());
    // A list that gives no entry is no dictionary: nothing is written.
    if (m_result.index.empty())
      return Fail(Status::Error(StatusKind::kNoEntries, {}, 0, "no entries"));
    if (Status written = WriteOutput(); !written) return Fail(std::move(written));
    m_outcome = Status();
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(Status::Error(StatusKind::kTooBig, {}, 0, "out of memory"));
  } catch (const std::exception& e) {
    return Fail(Status::Error(StatusKind::kWriteFailed, {}, 0, e.what()));
  }
}

bool CConvertJob::Collect(std::string_view word, std::string_view explanation) {
  m_indexSize += word.size() + kIndexRecordOverhead;
  m_dataSize += explanation.size();
  // A list too big for the format stops here, before it fills the memory.
  if (m_indexSize > kMaxIndexSize || m_dataSize > kMaxCompressibleSize ||
      !m_result.index.Add(word, static_cast<uint32_t>(explanation.size()))) {
    m_tooBig = true;
    return false;
  }
  if (!m_holding) return true;
  uint32_t at = 0;
  bool kept = false;
  try {
    kept = m_explanations.Add(explanation, &at);
  } catch (const std::bad_alloc&) {
    // A list that can be read again does without them.
    if (!m_canReadAgain) throw;
  }
  if (kept) m_result.index.Record(m_result.index.size() - 1).offset = at;
  if (kept && (!m_canReadAgain || HoldingFits())) return true;
  if (!m_canReadAgain) {
    m_tooBig = true;
    return false;
  }
  LetExplanationsGo();
  return true;
}

bool CConvertJob::HoldingFits() const {
  const CSortedIndex& index = m_result.index;
  const uint64_t held =
      m_explanations.Capacity() + index.MemoryBytes() + index.size() * uint64_t{kSortBytesPerEntry};
  // The list's share: 1.3 times its size and 16 MiB, so that 16 MiB more stay free for the
  // pieces being parsed, the sort's scratch and the process itself.
  const uint64_t size = m_source->Size();
  const uint64_t limit = m_holdLimit != 0 ? m_holdLimit : size + size * 3 / 10 + (uint64_t{16} << 20);
  return held <= limit;
}

void CConvertJob::LetExplanationsGo() {
  m_explanations = CTextStore();
  m_holding = false;
}

Status CConvertJob::ReadSource() {
  m_report = CRunReport();
  m_result.index = CSortedIndex();
  m_result.index.SetDuplicatePolicy(m_duplicates);
  m_indexSize = m_dataSize = 0;
  m_tooBig = false;
  m_canReadAgain = m_source->CanReadAgain();
  m_holding = true;
  m_explanations = CTextStore();
  SourceReading how;
  how.running = &m_running;
  how.threads = m_threads;
  how.progress = [this](uint64_t done, uint64_t total) { ProgressWithin(5, 28, done, total); };
  Status read = m_source->Read(
      [this](size_t, std::string_view word, std::string_view explanation) { return Collect(word, explanation); },
      &m_report, how);
  if (!read) return read;
  if (m_tooBig) return Status::Error(StatusKind::kTooBig, {}, 0, "more text than a package can hold");
  m_result.indexSize = static_cast<uint32_t>(m_indexSize);
  m_result.dataSize = static_cast<uint32_t>(m_dataSize);
  // Nothing more is read from a source whose explanations are held.
  if (m_holding) CloseSource();
  return Status();
}

size_t CConvertJob::WindowSize() const {
  const uint64_t data = std::max<uint64_t>(m_result.dataSize, 1);
  if (m_windowSize != 0) return static_cast<size_t>(std::min<uint64_t>(data, m_windowSize));
  // What the source's share of memory leaves beside the index: 1.2 times its size, so that
  // a tenth of it and some megabytes stay free for the pieces being parsed and the process
  // itself. Where the index alone takes more than that (entries far shorter than their
  // share of the source), the room the sort keys took is the window's: each reading of a
  // dictionary may inflate its whole index, and a window of a few megabytes would take a
  // reading per few megabytes.
  uint64_t share = m_source->Size() + m_source->Size() / 5;
  const uint64_t held = m_result.index.MemoryBytes();
  if (held >= share) share = held + m_result.index.size() * uint64_t{kSortBytesPerEntry};
  const uint64_t room = share > held ? share - held : 0;
  return static_cast<size_t>(std::min<uint64_t>(data, std::max<uint64_t>(room, kMinWindow)));
}

Status CConvertJob::CountFoldedRepeats() {
  const CSortedIndex& index = m_result.index;
  m_report.SetEntries(index.EntryCount());
  if (index.FoldedEntries() == 0) return Status();
  // Each repeat takes its record out of the index; under kMerge it puts a line break into
  // the data file, under kFirst it takes its explanation out. The report names the first
  // ones by the lines they came from.
  const bool merge = index.Duplicates() == DuplicatePolicy::kMerge;
  const ReportReason reason = merge ? ReportReason::kMerged : ReportReason::kDropped;
  const uint64_t indexSize =
      m_indexSize - index.FoldedWordBytes() - index.FoldedEntries() * kIndexRecordOverhead;
  uint64_t dataSize = merge ? m_dataSize + index.FoldedEntries() : m_dataSize;
  std::vector<ReportedLine> lines;
  for (size_t i = index.NextFolded(0); i < index.size(); i = index.NextFolded(i + 1)) {
    const EntryRecord& r = index.Record(i);
    if (lines.size() < CRunReport::kReportedLines) {
      const uint64_t line = m_report.LineOfEntry(i);
      lines.push_back({line != 0 ? line : i + 1, reason,
                       std::string(index.Word(r).substr(0, CRunReport::kReportedTextBytes))});
    } else if (merge) {
      break;  // the rest change no size
    }
    if (!merge) dataSize -= r.size;
  }
  m_report.NoteRepeats(reason, index.FoldedEntries(), std::move(lines));
  if (dataSize > kMaxCompressibleSize)
    return Status::Error(StatusKind::kTooBig, {}, 0, "more text than a package can hold");
  m_result.indexSize = static_cast<uint32_t>(indexSize);
  m_result.dataSize = static_cast<uint32_t>(dataSize);
  return Status();
}

Status CConvertJob::WriteOutput() {
  auto start = std::chrono::steady_clock::now();
  if (!SortIndex(&m_result.index, m_threads, &m_running)) return Status::Error(StatusKind::kCancelled);
  if (Status counted = CountFoldedRepeats(); !counted) return counted;
  // Held explanations get their offsets as they are written.
  if (!m_holding) AssignOffsets(&m_result.index, &m_running);
  if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
  m_report.SetRepeatedHeadwords(m_result.index.RepeatedHeadwords());
  m_times.sort = Lap(&start);
  Progress(30);

  platform::CBinaryFile data, compressed;
  if (Status claimed = ClaimTempFiles(&m_result.temp, m_result.compress, &data, &compressed); !claimed)
    return claimed.WithKind(StatusKind::kWriteFailed);
  if (Status filled = WriteDataFile(data); !filled) {
    data.Close();
    return filled;
  }
  // The explanations lie where the index will say: the repeats can leave it.
  m_result.index.FoldRepeats();
  Progress(50);
  // A failed write is remembered by the file, and Close reports it.
  if (Status closed = data.Close(); !closed) return closed.WithKind(StatusKind::kWriteFailed);
  m_times.writeData = Lap(&start);

  if (m_result.compress) {
    CompressControl control;
    control.running = &m_running;
    control.progress = [this](uint32_t done, uint32_t total) { ProgressWithin(50, 80, done, total); };
    if (Status done = CompressDataFile(m_result.temp.data, &compressed, m_threads, control); !done) {
      const StatusKind kind = done.Kind();
      return done.WithKind(kind == StatusKind::kTooBig || kind == StatusKind::kCancelled
                               ? kind : StatusKind::kWriteFailed);
    }
    platform::FileStatus status;
    if (!platform::QueryFileStatus(m_result.temp.compressed, &status))
      return Status::Error(StatusKind::kWriteFailed, m_result.temp.compressed, 0, "missing after compression");
    if (status.size > std::numeric_limits<uint32_t>::max())
      return Status::Error(StatusKind::kTooBig, m_result.temp.compressed, 0, "compressed data too large");
    m_result.compressedSize = static_cast<uint32_t>(status.size);
    m_times.compress = Lap(&start);
  }
  Progress(80);
  return Status();
}

// The data file holds the explanations in index order. Held ones are written straight
// in that order; otherwise it is filled a window at a time, in order: every window takes
// one reading of the list in list order, which puts each explanation (or the part of it
// that falls in the window) where the sort placed it.
Status CConvertJob::WriteDataFile(platform::CBinaryFile& data) {
  if (m_holding) return WriteHeldExplanations(data);
  const uint64_t total = m_result.dataSize;
  const size_t windowSize = WindowSize();
  NoteLargeAllocation();
  const std::unique_ptr<char[]> window(new char[windowSize]);
  const int passes = static_cast<int>((total + windowSize - 1) / windowSize);
  int pass = 0;
  for (uint64_t begin = 0; begin < total; begin += windowSize, ++pass) {
    if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
    const uint64_t end = std::min<uint64_t>(total, begin + windowSize);
    if (Status filled = FillWindowFromSource(window.get(), begin, end, pass, passes); !filled)
      return filled;
    if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
    // A failed write is remembered by the file, and its Close reports it.
    if (!data.Write(window.get(), static_cast<size_t>(end - begin))) return Status();
    ProgressWithin(30, 50, static_cast<uint64_t>(pass + 1), static_cast<uint64_t>(passes));
  }
  return Status();
}

Status CConvertJob::WriteHeldExplanations(platform::CBinaryFile& data) {
  constexpr size_t kBufferSize = size_t{1} << 20;
  // Records and explanations lie in list order: each is asked for well ahead, the record
  // first, so that the misses overlap.
  constexpr size_t kAhead = 16;
  CSortedIndex& index = m_result.index;
  const size_t count = index.size();
  const bool merge = index.Duplicates() == DuplicatePolicy::kMerge;
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  size_t used = 0;
  uint64_t offset = 0;
  // A failed write is remembered by the file, and its Close reports it.
  const auto put = [&](std::string_view text) {
    offset += text.size();
    if (text.size() > kBufferSize - used) {
      if (!data.Write(buffer.get(), used)) return false;
      used = 0;
      if (text.size() >= kBufferSize) return data.Write(text.data(), text.size());
    }
    std::memcpy(buffer.get() + used, text.data(), text.size());
    used += text.size();
    return true;
  };
  for (size_t k = 0; k < count; ++k) {
    if ((k & 0xFFF) == 0) {
      if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
      ProgressWithin(30, 50, k, count);
    }
    if (k + kAhead < count) PrefetchText(&index.Record(index.ListPosition(k + kAhead)));
    if (k + kAhead / 2 < count) {
      const EntryRecord& soon = index.Record(index.ListPosition(k + kAhead / 2));
      if (soon.size != 0) PrefetchText(m_explanations.View(soon.offset, soon.size).data());
    }
    const size_t i = index.ListPosition(k);
    EntryRecord& r = index.Record(i);
    if (index.Folded(i)) {
      // A dropped repeat is never written; a merged one follows a line break.
      if (!merge) continue;
      if (used < kBufferSize) {
        buffer[used++] = '\n';
        ++offset;
      } else if (!put("\n")) {
        return Status();
      }
    }
    const std::string_view text = m_explanations.View(r.offset, r.size);
    r.offset = static_cast<uint32_t>(offset);
    if (!text.empty() && !put(text)) return Status();  // an empty one is viewed as no text at all
  }
  if (used > 0) data.Write(buffer.get(), used);
  // Compression reads the data file: the explanations are needed no more.
  m_explanations = CTextStore();
  return Status();
}

namespace {

// Copies the part of an explanation that lies at offset in the data file and falls in
// the window of the data file's bytes [begin, end).
inline void CopyIntoWindow(std::string_view explanation, uint64_t offset, char* window,
                           uint64_t begin, uint64_t end) {
  const uint64_t from = std::max(offset, begin);
  const uint64_t to = std::min(offset + explanation.size(), end);
  if (from < to)
    std::memcpy(window + (from - begin), explanation.data() + (from - offset), static_cast<size_t>(to - from));
}

}  // namespace

Status CConvertJob::FillWindowFromSource(char* window, uint64_t begin, uint64_t end, int pass,
                                         int passes) {
  // Every entry must be the one the first reading found, with an explanation of the size
  // it had then.
  const CSortedIndex& index = m_result.index;
  const bool merge = index.Duplicates() == DuplicatePolicy::kMerge;
  // Positions are handed on without gaps: the last one seen, and none beyond, is all.
  std::atomic<bool> sawLast{false};
  std::atomic<bool> same{true};
  // The explanations land all over the window: the place of one a few entries on is asked
  // for while this one is copied, so that the misses overlap.
  constexpr size_t kAhead = 16;
  const auto place = [&](size_t i, std::string_view word, std::string_view explanation) {
    if (i + kAhead < index.size()) {
      const uint64_t soon = index.Record(i + kAhead).offset;
      if (soon >= begin && soon < end) PrefetchForWrite(window + (soon - begin));
    }
    const EntryRecord* r = i < index.size() ? &index.Record(i) : nullptr;
    if (r == nullptr || r->size != explanation.size() || index.Word(*r) != word) {
      same = false;
      return false;
    }
    if (index.Folded(i)) {
      // A dropped repeat is never written; a merged one follows a line break.
      if (!merge) {
        if (i + 1 == index.size()) sawLast = true;
        return true;
      }
      if (r->offset - 1 >= begin && r->offset - 1 < end) window[r->offset - 1 - begin] = '\n';
    }
    CopyIntoWindow(explanation, r->offset, window, begin, end);
    if (i + 1 == index.size()) sawLast = true;
    return true;
  };
  SourceReading how;
  how.running = &m_running;
  how.threads = m_threads;
  how.progress = [&](uint64_t done, uint64_t total) {
    ProgressWithin(30, 50, static_cast<uint64_t>(pass) * total + done, static_cast<uint64_t>(passes) * total);
  };
  if (Status read = m_source->ReadAgain(place, true, how); !read) return read;
  if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
  if (!same || !sawLast)
    return Status::Error(StatusKind::kInputChanged, m_source->Path(), 0, "the input changed while it was converted");
  return Status();
}

unsigned long ConvertThreadProc(void* param) {
  CConvertJob* job = static_cast<CConvertJob*>(param);
  // Convert throws nothing; the completion is the worker's last action whatever happens.
  const bool ok = job->Convert();
  if (IConvertObserver* observer = job->Observer()) observer->OnConvertDone(ok, job);
  return 0;
}
