#include "core/convert_job.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "common/memory_fault.h"
#include "common/prefetch.h"
#include "common/threads.h"
#include "common/utf.h"
#include "package/index_order.h"
#include "textio/line_parse.h"
#include "package/chunked_data.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "textio/text_file.h"

namespace {

// The index is addressed with unsigned 32-bit offsets inside the package, behind the
// header and a metadata block the job does not know yet; keep a generous margin for it.
constexpr uint64_t kMaxIndexSize = 0xFFFFFFFFull - (1u << 20);

// Entries read before the list is sized for the whole file.
constexpr size_t kEstimateAfter = 4096;

// The data file is written through a buffer of this size.
constexpr size_t kWriteBufferSize = 1 << 20;

// How many entries ahead the data file's writer asks for an explanation.
constexpr size_t kLookAhead = 8;

// A UTF-8 list up to this size is read whole; a larger one cannot be converted, and is
// read line by line until that is certain.
constexpr uint64_t kWholeFileLimit = 1ull << 31;

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

void CConvertJob::OpenInput(const std::wstring& path) {
  m_inputOpened = m_inputFile.Open(path).WithKind(StatusKind::kInputUnreadable);
  platform::FileStatus status;
  if (m_inputOpened && platform::QueryFileStatus(path, &status)) m_inputSize = status.size;
}

void CConvertJob::OpenStarDict(const std::wstring& ifoPath, const StarDictOptions& options) {
  m_starDict = std::make_unique<CStarDictReader>();
  m_starDictOptions = options;
  m_inputOpened = m_starDict->Open(ifoPath);
  if (!m_inputOpened) m_starDict.reset();
}

const StarDictFacts* CConvertJob::StarDictInfo() const {
  return m_starDict ? &m_starDict->Facts() : nullptr;
}

void CConvertJob::OpenStandardInput() {
  m_inputOpened = m_inputFile.OpenStandardInput().WithKind(StatusKind::kInputUnreadable);
  m_inputSize = 0;
}

void CConvertJob::Progress(int percent) {
  // The bar only ever moves forward, and by whole steps: a few dozen updates per phase.
  if (percent <= m_lastProgress) return;
  m_lastProgress = percent;
  if (m_observer) m_observer->OnConvertProgress(percent);
}

void CConvertJob::ProgressWithin(int from, int to, uint64_t done, uint64_t total) {
  if (total == 0 || done > total) return;
  Progress(from + static_cast<int>(static_cast<uint64_t>(to - from) * done / total));
}

void CConvertJob::ReadingProgress(uint64_t done, uint64_t total) {
  // Reading takes the bar from 5 to 28; sorting ends at 30.
  ProgressWithin(5, 28, done, total);
}

bool CConvertJob::Fail(Status failure) {
  m_outcome = std::move(failure);
  if (m_outcome.Kind() != StatusKind::kCancelled && m_observer)
    m_observer->ShowWarning(MessageFor(m_outcome), m_outcome);
  return false;
}

Status CConvertJob::ReadFailure() const {
  return m_inputFile.LastError().WithKind(StatusKind::kInputUnreadable);
}

bool CConvertJob::Convert() {
  if (!m_inputOpened) return Fail(m_inputOpened);
  // Nothing is thrown across the worker thread's boundary: a list larger than the memory
  // can hold is too big to convert, and anything else unexpected fails the run.
  try {
    m_lastProgress = 5;  // where the front end has put the bar
    auto start = std::chrono::steady_clock::now();
    Status read = m_starDict ? ReadStarDict() : ReadWordList();
    m_times.read = Lap(&start);
    if (!read) return Fail(std::move(read));
    // A cancel while the lines were read ends the run here, before anything is written.
    if (!m_running) return Fail(Status::Error(StatusKind::kCancelled));
    m_report.SetEntries(m_result.entries.size());
    // A list that gives no entry is no dictionary: nothing is written.
    if (m_result.entries.empty())
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

namespace {

// Headwords that occur more than once, in a list in index order, where they lie together.
uint64_t CountRepeatedHeadwords(const std::vector<DictEntry>& sorted) {
  uint64_t repeated = 0;
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i].word == sorted[i - 1].word && (i < 2 || sorted[i - 2].word != sorted[i].word))
      ++repeated;
  }
  return repeated;
}

// Entries as they are parsed, with the sizes of the index and data they will make.
class CEntryCollector {
 public:
  // list receives the entries; once the first few have shown how long a line is, it is
  // given room for expectedBytes of text at once (growing by doubling would hold two
  // copies at the end).
  CEntryCollector(std::vector<DictEntry>* list, uint64_t expectedBytes)
      : m_list(list), m_expectedBytes(expectedBytes) {}
  // The entries are kept in blocks, for another collector to take over by Append.
  CEntryCollector() = default;

  // Adds an entry of stored texts; false once the list has grown too big to convert.
  bool Add(std::string_view word, std::string_view explanation, uint64_t bytesSoFar) {
    m_indexSize += word.size() + 9;
    m_dataSize += explanation.size();
    if (m_indexSize > kMaxIndexSize || m_dataSize > kMaxCompressibleSize) {
      m_tooBig = true;
      return false;
    }
    const DictEntry entry{word, explanation, 0, static_cast<uint32_t>(explanation.size())};
    if (!m_list) {
      if (m_blocks.empty() || m_blocks.back().size() == kBlockEntries) {
        NoteLargeAllocation();
        m_blocks.emplace_back();
        m_blocks.back().reserve(kBlockEntries);
      }
      m_blocks.back().push_back(entry);
      return true;
    }
    if (m_list->size() == kEstimateAfter) Reserve(bytesSoFar);
    m_list->push_back(entry);
    return true;
  }

  // Takes over the entries of a collector that keeps blocks; they follow this one's. Each
  // block is released as soon as it has been moved, so the entries are held twice only
  // one block at a time.
  void Append(CEntryCollector&& other) {
    for (std::vector<DictEntry>& block : other.m_blocks) {
      m_list->insert(m_list->end(), block.begin(), block.end());
      std::vector<DictEntry>().swap(block);
    }
    m_indexSize += other.m_indexSize;
    m_dataSize += other.m_dataSize;
    m_tooBig = m_tooBig || other.m_tooBig || m_indexSize > kMaxIndexSize ||
               m_dataSize > kMaxCompressibleSize;
  }

  bool TooBig() const { return m_tooBig; }
  uint64_t IndexSize() const { return m_indexSize; }
  uint64_t DataSize() const { return m_dataSize; }

 private:
  static constexpr size_t kBlockEntries = 1 << 16;

  void Reserve(uint64_t bytesSoFar) {
    if (bytesSoFar == 0 || m_expectedBytes <= bytesSoFar) return;
    const double perEntry = static_cast<double>(bytesSoFar) / static_cast<double>(m_list->size());
    const double estimate = static_cast<double>(m_expectedBytes) / perEntry * 1.05 + 1024;
    NoteLargeAllocation();
    if (estimate < 1e9) m_list->reserve(static_cast<size_t>(estimate));
  }

  std::vector<DictEntry>* m_list = nullptr;
  std::vector<std::vector<DictEntry>> m_blocks;
  uint64_t m_expectedBytes = 0;
  uint64_t m_indexSize = 0;
  uint64_t m_dataSize = 0;
  bool m_tooBig = false;
};

// Tells how many bytes of the text a parse has cut into lines.
using ParseProgress = std::function<void(size_t consumed)>;

// Parses UTF-8 text held in memory. Entries view the text itself, or, for a line that
// had to be cleaned, copies in cleaned. Stops early when running is cleared or the list
// grows too big. report counts the text's lines from 1.
void ParseUtf8Text(std::string_view text, CEntryCollector* out, CTextArena* cleaned,
                   const std::atomic<bool>& running, CRunReport* report,
                   const ParseProgress& progress = {}) {
  CUtf8Lines lines(text);
  std::string_view line;
  std::string scratch;
  uint64_t count = 0;
  while (lines.Next(&line, &scratch)) {
    // Cancelling is noticed within a few milliseconds.
    if ((++count & 0xFFF) == 0) {
      if (!running.load(std::memory_order_relaxed)) return;
      if (progress) progress(lines.Consumed());
    }
    report->CountLine();
    if (lines.Repairs().Any()) report->Repair(lines.Repairs(), line);
    LineFields fields;
    if (!SplitLine(line, &fields)) {
      if (!line.empty()) report->Skip(SplitProblem(line), line);  // a blank line is no problem
      continue;
    }
    const std::string_view word = TrimFieldChars(fields.first);
    // A line without a headword has nothing to index.
    if (word.empty()) {
      report->Skip(LineProblem::kEmptyHeadword, line);
      continue;
    }
    const std::string_view explanation = TrimFieldChars(fields.second);
    const bool cleanedLine = !scratch.empty() && line.data() == scratch.data();
    if (!out->Add(cleanedLine ? cleaned->Store(word) : word,
                  cleanedLine ? cleaned->Store(explanation) : explanation, lines.Consumed()))
      return;
  }
}

// Parses rest on this thread while other, when started, parses the text before it into
// first and firstReport; then hands rest's entries to first and its lines to firstReport,
// after their own: rest's line numbers follow the first part's.
void ParseRestBeside(std::string_view rest, CEntryCollector* first, CRunReport* firstReport,
                     CJoiningThread* other, CTextArena* text, const std::atomic<bool>& running,
                     const ParseProgress& progress) {
  if (!other->Started()) {
    ParseUtf8Text(rest, first, text, running, firstReport, progress);
    return;
  }
  CEntryCollector second;
  CTextArena secondCleaned(1 << 16);
  CRunReport secondReport;
  ParseUtf8Text(rest, &second, &secondCleaned, running, &secondReport, progress);
  other->Join();
  // A cancelled run has no use for the entries, and moving them takes a while.
  if (!running.load(std::memory_order_relaxed)) return;
  if (!first->TooBig()) first->Append(std::move(second));
  firstReport->Append(std::move(secondReport));
  text->Adopt(std::move(secondCleaned));
}

}  // namespace

Status CConvertJob::ReadWordList() {
  CTextFileRead reader(&m_inputFile, CTextFileRead::kDefaultBlockSize, &m_running,
                       m_forcedEncoding);
  const TextEncoding encoding = reader.GetEncoding();
  m_report = CRunReport();
  m_report.SetEncoding(encoding);
  const bool whole = encoding != TextEncoding::Ansi && m_inputSize > 0 &&
                     m_inputSize <= kWholeFileLimit;
  Status read;
  bool readByLines = !whole;
  if (whole) {
    try {
      read = encoding == TextEncoding::Utf8 ? ReadWholeUtf8List(reader)
                                            : ReadWholeUtf16List(reader);
    } catch (const std::bad_alloc&) {
      // No room for the whole list: line by line needs less, as nothing was read yet.
      readByLines = m_result.entries.empty() && m_text.Capacity() == 0;
      if (!readByLines) throw;
    }
  }
  if (readByLines) read = ReadListByLines(reader);
  // A read error may also have ended the line-by-line reading early.
  if (read && reader.HadReadError()) read = ReadFailure();
  reader.Close();
  m_inputFile.Close();
  return read;
}

// A UTF-8 list is read whole into the text arena, and the entries view it where it lies:
// nothing is copied line by line. With two threads, the first half of the file is parsed
// while the second half is read, and then the second half is parsed beside it.
Status CConvertJob::ReadWholeUtf8List(CTextFileRead& reader) {
  const size_t size = static_cast<size_t>(m_inputSize);
  char* const text = m_text.Allocate(size);
  // Sized for the whole text, so that the second half's entries join without moving it.
  CEntryCollector first(&m_result.entries, size);

  // A file that grows meanwhile is read as it was when it was opened.
  size_t head = size;
  if (ParsingThreads() >= 2 && size >= m_parallelParseFrom) head = size / 2;
  const std::ptrdiff_t headRead = reader.ReadRemainder(text, head);
  if (headRead < 0) return ReadFailure();
  const std::string_view headText(text, static_cast<size_t>(headRead));

  // The first part ends with the head's last line break.
  size_t cut = 0;
  CJoiningThread other;
  if (head < size) {
    const size_t lastBreak = headText.find_last_of("\r\n");
    if (lastBreak != std::string_view::npos) {
      cut = lastBreak + 1;
      other.Start([this, &first, part = headText.substr(0, cut)] {
        ParseUtf8Text(part, &first, &m_text, m_running, &m_report);
      });
    }
  }
  std::ptrdiff_t tailRead = 0;
  if (head < size) tailRead = reader.ReadRemainder(text + headRead, size - head);
  if (tailRead < 0) return ReadFailure();
  std::string_view rest(text + cut, static_cast<size_t>(headRead + tailRead) - cut);
  // A cut between the CR and the LF of one break: the LF is no line of its own.
  if (cut > 0 && text[cut - 1] == '\r' && !rest.empty() && rest[0] == '\n') rest.remove_prefix(1);
  const size_t restStart = static_cast<size_t>(rest.data() - text);
  ParseRestBeside(rest, &first, &m_report, &other, &m_text, m_running,
                  [this, restStart, size](size_t consumed) {
                    ReadingProgress(restStart + consumed, size);
                  });
  return RecordSizes(first.TooBig(), first.IndexSize(), first.DataSize());
}

// A UTF-16 list is converted whole into UTF-8 in the text arena, then parsed there as a
// UTF-8 list is, by two threads when there are cores for it.
Status CConvertJob::ReadWholeUtf16List(CTextFileRead& reader) {
  const size_t size = static_cast<size_t>(m_inputSize);
  char* const text = m_text.Allocate(CTextFileRead::Utf8Room(size));
  const std::ptrdiff_t converted = reader.ReadRemainderAsUtf8(text, size);
  if (converted < 0) return ReadFailure();
  const std::string_view all(text, static_cast<size_t>(converted));

  CEntryCollector first(&m_result.entries, all.size());
  size_t cut = 0;
  CJoiningThread other;
  if (ParsingThreads() >= 2 && all.size() >= m_parallelParseFrom) {
    cut = LineBoundaryAfter(all, all.size() / 2);
    if (cut < all.size()) {
      other.Start([this, &first, part = all.substr(0, cut)] {
        ParseUtf8Text(part, &first, &m_text, m_running, &m_report);
      });
    } else {
      cut = 0;  // no break after the middle: this thread parses everything
    }
  }
  ParseRestBeside(all.substr(cut), &first, &m_report, &other, &m_text, m_running,
                  [this, cut, &all](size_t consumed) { ReadingProgress(cut + consumed, all.size()); });
  return RecordSizes(first.TooBig(), first.IndexSize(), first.DataSize());
}

unsigned CConvertJob::ParsingThreads() const {
  return ThreadCount(m_threads);
}

Status CConvertJob::RecordSizes(bool tooBig, uint64_t indexSize, uint64_t dataSize) {
  m_result.indexSize = static_cast<uint32_t>(indexSize);
  m_result.dataSize = static_cast<uint32_t>(dataSize);
  if (tooBig) return Status::Error(StatusKind::kTooBig, {}, 0, "more text than a package can hold");
  return Status();
}

Status CConvertJob::ReadListByLines(CTextFileRead& reader) {
  const bool utf8Lines = reader.LinesAreUtf8();
  CEntryCollector collector(&m_result.entries, m_inputSize);
  std::string line;
  std::string word;
  std::string explanation;
  uint64_t bytesRead = 0;
  uint64_t count = 0;
  while (m_running && !reader.IsEndOfFile()) {
    if (!reader.ReadLine(line)) break;
    bytesRead += line.size() + 1;
    if ((++count & 0xFFF) == 0) ReadingProgress(bytesRead, m_inputSize);
    const LineRepairs& repairs = reader.LastLineRepairs();
    // The text after the last line break is a line only when there is some.
    if (line.empty() && reader.IsEndOfFile() && !repairs.Any()) break;
    m_report.CountLine();
    if (repairs.Any()) m_report.Repair(repairs, line);
    LineFields fields;
    if (!SplitLine(line, &fields)) {
      if (!line.empty()) m_report.Skip(SplitProblem(line), line);  // a blank line is no problem
      continue;
    }
    // A line without a headword has nothing to index.
    if (fields.first.empty()) {
      m_report.Skip(LineProblem::kEmptyHeadword, line);
      continue;
    }
    std::string_view wordText;
    std::string_view explanationText;
    if (utf8Lines) {
      wordText = TrimFieldChars(fields.first);
      explanationText = TrimFieldChars(fields.second);
    } else {
      if (!AnsiToUtf8(fields.first, &word, m_codePage)) {
        m_report.Skip(LineProblem::kEmptyHeadword, line);
        continue;
      }
      AnsiToUtf8(fields.second, &explanation, m_codePage);  // an empty one stays empty
      wordText = TrimFieldChars(word);
      explanationText = TrimFieldChars(explanation);
    }
    if (!collector.Add(m_text.Store(wordText), m_text.Store(explanationText), bytesRead))
      break;  // too big
  }
  return RecordSizes(collector.TooBig(), collector.IndexSize(), collector.DataSize());
}

Status CConvertJob::ReadStarDict() {
  m_report = CRunReport();
  m_report.SetEncoding(TextEncoding::Utf8);
  CEntryCollector collector(&m_result.entries, 0);
  const uint64_t total = m_starDict->WordCount() + m_starDict->SynonymCount();
  uint64_t done = 0;
  const Status read = m_starDict->ReadEntries(m_starDictOptions, [&](const StarDictEntry& e) {
    if ((++done & 0xFFF) == 0) {
      if (!m_running.load(std::memory_order_relaxed)) return false;
      ReadingProgress(done, total);
    }
    m_report.CountLine();
    if (e.unreadable) {
      m_report.SkipEntry(ReportReason::kUnreadable, e.word);
      return true;
    }
    if (e.word.empty()) {
      m_report.Skip(LineProblem::kEmptyHeadword, e.explanation);
      return true;
    }
    if (e.binaryFields != 0 && e.explanation.empty()) {
      m_report.SkipEntry(ReportReason::kBinaryOnly, e.word);
      return true;
    }
    m_report.LeaveOutFields(e.binaryFields);
    return collector.Add(m_text.Store(e.word), m_text.Store(e.explanation), 0);
  });
  if (!read) return read;
  return RecordSizes(collector.TooBig(), collector.IndexSize(), collector.DataSize());
}

Status CConvertJob::WriteOutput() {
  auto start = std::chrono::steady_clock::now();
  if (!SortEntries(&m_result.entries, m_threads, &m_running)) return Status::Error(StatusKind::kCancelled);
  AssignOffsets(&m_result.entries);
  m_report.SetRepeatedHeadwords(CountRepeatedHeadwords(m_result.entries));
  m_times.sort = Lap(&start);
  Progress(30);

  platform::CBinaryFile data, compressed;
  if (Status claimed = ClaimTempFiles(&m_result.temp, m_result.compress, &data, &compressed); !claimed)
    return claimed.WithKind(StatusKind::kWriteFailed);
  NoteLargeAllocation();
  std::string buffer;
  buffer.reserve(kWriteBufferSize);
  bool written = true;  // once false, nothing more is written
  const size_t count = m_result.entries.size();
  for (size_t i = 0; i < count; ++i) {
    if ((i & 0xFFF) == 0 && i != 0) {
      if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
      ProgressWithin(30, 50, i, count);
    }
    const DictEntry& e = m_result.entries[i];
    // The explanations lie in word-list order: ask for one a few entries ahead.
    if (i + kLookAhead < m_result.entries.size()) PrefetchText(m_result.entries[i + kLookAhead].explanation.data());
    if (buffer.size() + e.explanation.size() > kWriteBufferSize) {
      written = written && data.Write(buffer.data(), buffer.size());
      buffer.clear();
    }
    if (e.explanation.size() > kWriteBufferSize)
      written = written && data.Write(e.explanation.data(), e.explanation.size());
    else
      buffer += e.explanation;
  }
  if (written) data.Write(buffer.data(), buffer.size());
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

unsigned long ConvertThreadProc(void* param) {
  CConvertJob* job = static_cast<CConvertJob*>(param);
  // Convert throws nothing; the completion is the worker's last action whatever happens.
  const bool ok = job->Convert();
  if (IConvertObserver* observer = job->Observer()) observer->OnConvertDone(ok, job);
  return 0;
}
