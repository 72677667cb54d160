#include "core/convert_job.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "common/crc32.h"
#include "common/memory_fault.h"
#include "common/prefetch.h"
#include "common/text_arena.h"
#include "common/threads.h"
#include "common/utf.h"
#include "package/chunked_data.h"
#include "package/index_order.h"
#include "package/temp_files.h"
#include "platform/memory.h"
#include "textio/line_parse.h"
#include "textio/text_file.h"

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

// What a parse of some text gives: its entries in order, viewing the text or, for lines
// that had to be cleaned, copies in cleaned; and the report of its lines.
struct ParsedText {
  struct Entry {
    std::string_view word;
    std::string_view explanation;
  };
  std::vector<Entry> entries;
  CTextArena cleaned{1 << 16};
  CRunReport report;

  void Clear() {
    entries.clear();
    cleaned.Clear();
    report = CRunReport();
  }
};

// Parses UTF-8 text held in memory into out. Stops early when running is cleared.
void ParseUtf8Text(std::string_view text, ParsedText* out, const std::atomic<bool>& running) {
  CUtf8Lines lines(text);
  std::string_view line;
  std::string scratch;
  uint64_t count = 0;
  while (lines.Next(&line, &scratch)) {
    // Cancelling is noticed within a few milliseconds.
    if ((++count & 0xFFF) == 0 && !running.load(std::memory_order_relaxed)) return;
    out->report.CountLine();
    if (lines.Repairs().Any()) out->report.Repair(lines.Repairs(), line);
    LineFields fields;
    if (!SplitLine(line, &fields)) {
      if (!line.empty()) out->report.Skip(SplitProblem(line), line);  // a blank line is no problem
      continue;
    }
    const std::string_view word = TrimFieldChars(fields.first);
    // A line without a headword has nothing to index.
    if (word.empty()) {
      out->report.Skip(LineProblem::kEmptyHeadword, line);
      continue;
    }
    const std::string_view explanation = TrimFieldChars(fields.second);
    if (!scratch.empty() && line.data() == scratch.data())
      out->entries.push_back({out->cleaned.Store(word), out->cleaned.Store(explanation)});
    else
      out->entries.push_back({word, explanation});
  }
}

// Where a piece of text may end so that it holds whole lines only: just past its last
// line break, but before a CR at its very end, whose LF may come with the next piece; 0
// when none. The text before from is known to hold no break.
size_t EndOfWholeLines(std::string_view text, size_t from) {
  size_t end = text.size();
  if (end > 0 && text[end - 1] == '\r') --end;
  for (size_t at = end; at > from; --at) {
    const char c = text[at - 1];
    if (c == '\n') return at;
    if (c == '\r') return at + (text[at] == '\n' ? 1 : 0);
  }
  return 0;
}

// A UTF-8 or UTF-16 list as UTF-8 text, in pieces of whole lines, each cut from the text
// exactly where reading the text whole would cut it into lines.
class CPieceReader {
 public:
  // pieceSize: bytes of the file read at a time.
  CPieceReader(CTextFileRead& reader, size_t pieceSize) : m_reader(reader), m_pieceSize(pieceSize) {}

  // The next piece; false at the end of the list or when a read failed.
  bool Next(std::string_view* piece) {
    // What the last piece left over moves to the front.
    if (m_handedOut > 0) {
      m_used -= m_handedOut;
      std::memmove(m_text.data(), m_text.data() + m_handedOut, m_used);
      m_handedOut = 0;
    }
    m_bytesBefore = m_bytesRead;
    size_t searched = 0;  // the text before holds no line break
    for (;;) {
      if (!m_ended) {
        const bool utf16 = m_reader.GetEncoding() != TextEncoding::Utf8;
        const size_t room = utf16 ? CTextFileRead::Utf8Room(m_pieceSize + 1) + 3 : m_pieceSize;
        if (m_text.size() < m_used + room) {
          NoteLargeAllocation();
          m_text.resize(std::max(m_used + room, m_text.size() * 2));
        }
        char* const to = m_text.data() + m_used;
        const std::ptrdiff_t got = utf16 ? m_reader.ReadRemainderAsUtf8(to, m_pieceSize)
                                         : m_reader.ReadRemainder(to, m_pieceSize);
        if (got < 0) {
          m_failed = true;
          return false;
        }
        m_digest = Crc32(m_digest, to, static_cast<size_t>(got));
        m_used += static_cast<size_t>(got);
        m_bytesRead += m_pieceSize;
        // Nothing more comes at the end of the file or once the run is cancelled (a piece
        // of two or more code units always gives some text).
        m_ended = m_reader.IsEndOfFile() || got == 0 || (!utf16 && static_cast<size_t>(got) < m_pieceSize);
      }
      const std::string_view text(m_text.data(), m_used);
      const size_t cut = m_ended ? m_used : EndOfWholeLines(text, searched);
      if (cut > 0) {
        m_handedOut = cut;
        *piece = text.substr(0, cut);
        return true;
      }
      if (m_ended) return false;
      // No line ends in what was read: the line goes on in the next part of the file.
      // Only a CR at the end must be looked at again.
      searched = m_used > 0 ? m_used - 1 : 0;
    }
  }

  bool Failed() const { return m_failed; }
  uint32_t Digest() const { return m_digest; }
  // Bytes of the file read before the last piece, and with it (at most).
  uint64_t BytesBefore() const { return m_bytesBefore; }
  uint64_t BytesRead() const { return m_bytesRead; }

 private:
  CTextFileRead& m_reader;
  const size_t m_pieceSize;
  std::vector<char> m_text;
  size_t m_used = 0;
  size_t m_handedOut = 0;
  bool m_ended = false;
  bool m_failed = false;
  uint32_t m_digest = 0;
  uint64_t m_bytesBefore = 0;
  uint64_t m_bytesRead = 0;
};

}  // namespace

CConvertJob::CConvertJob() : CConvertJob(platform::CurrentDirectory()) {}

CConvertJob::CConvertJob(const std::wstring& folder) { m_result.temp.folder = folder; }

void CConvertJob::OpenInput(const std::wstring& path) {
  m_inputPath = path;
  m_inputOpened = m_inputFile.Open(path).WithKind(StatusKind::kInputUnreadable);
  m_inputStatus = platform::FileStatus();
  if (m_inputOpened) platform::QueryFileStatus(path, &m_inputStatus);
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
  m_inputPath.clear();
  m_inputOpened = m_inputFile.OpenStandardInput().WithKind(StatusKind::kInputUnreadable);
  m_inputStatus = platform::FileStatus();
}

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

Status CConvertJob::ReadFailure() const {
  return m_inputFile.LastError().WithKind(StatusKind::kInputUnreadable);
}

bool CConvertJob::Convert() {
  if (!m_inputOpened) return Fail(m_inputOpened);
  // The explanations' blocks, let go of when they do not fit, make room for the window.
  platform::ReturnLargeBlocksWhenFreed(size_t{1} << 20);
  // The list is read again while the data file is written; closed however the run ends.
  struct CloseInput {
    platform::CFile& file;
    ~CloseInput() { file.Close(); }
  } closeInput{m_inputFile};
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

unsigned CConvertJob::ParsingThreads() const { return ThreadCount(m_threads); }

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
  const uint64_t limit =
      m_holdLimit != 0 ? m_holdLimit : m_inputStatus.size + m_inputStatus.size * 3 / 10 + (uint64_t{16} << 20);
  return held <= limit;
}

void CConvertJob::LetExplanationsGo() {
  m_explanations = CTextStore();
  m_holding = false;
}

Status CConvertJob::ReadWordList() {
  CTextFileRead reader(&m_inputFile, CTextFileRead::kDefaultBlockSize, &m_running,
                       m_forcedEncoding, m_codePage);
  if (!reader.IsText()) return Status::Error(StatusKind::kNotText, m_inputPath, 0, "not a text file");
  m_report = CRunReport();
  m_report.SetEncoding(reader.GetEncoding());
  m_result.index = CSortedIndex();
  m_indexSize = m_dataSize = 0;
  m_tooBig = false;
  // Standard input and a FIFO have no size and cannot be read twice.
  m_canReadAgain = m_inputStatus.size > 0;
  m_holding = true;
  m_explanations = CTextStore();
  Status read = ParseList(
      reader,
      [this](size_t, std::string_view word, std::string_view explanation) { return Collect(word, explanation); },
      false, &m_report, &m_listDigest,
      [this](uint64_t bytes) { ProgressWithin(5, 28, bytes, m_inputStatus.size); });
  m_report.SetHeldNonAscii(reader.SawNonAscii());
  if (!read) return read;
  if (m_tooBig) return Status::Error(StatusKind::kTooBig, {}, 0, "more text than a package can hold");
  m_result.indexSize = static_cast<uint32_t>(m_indexSize);
  m_result.dataSize = static_cast<uint32_t>(m_dataSize);
  if (m_holding && m_canReadAgain) {
    // Nothing more is read from a list whose explanations are held; one written to while
    // it was read may have given half its old text and half its new.
    m_inputFile.Close();
    if (!ListUnchanged()) return ListChanged();
  }
  return Status();
}

bool CConvertJob::ListUnchanged() const {
  platform::FileStatus now;
  return platform::QueryFileStatus(m_inputPath, &now) && now.size == m_inputStatus.size &&
         now.modifiedTime == m_inputStatus.modifiedTime;
}

Status CConvertJob::ListChanged() const {
  return Status::Error(StatusKind::kInputChanged, m_inputPath, 0, "the word list changed while it was converted");
}

Status CConvertJob::ParseList(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                              CRunReport* report, uint32_t* digest, const ReadProgress& progress) {
  *digest = 0;
  // Standard input is read by lines, which needs no more memory than its lines.
  Status read = reader.GetEncoding() != TextEncoding::Ansi && m_canReadAgain
                    ? ParseInPieces(reader, sink, concurrent, report, digest, progress)
                    : ParseByLines(reader, sink, report, digest, progress);
  // A read error may also have ended the reading early.
  if (read && reader.HadReadError()) read = ReadFailure();
  return read;
}

// Each piece is parsed by two threads when there are two, each taking about half of its
// lines; the entries are handed on in list order once both are done, or by both threads
// at once, each its own half, when the sink allows.
Status CConvertJob::ParseInPieces(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                                  CRunReport* report, uint32_t* digest,
                                  const ReadProgress& progress) {
  const bool twoThreads = ParsingThreads() >= 2 && m_inputStatus.size >= m_parallelParseFrom;
  CPieceReader pieces(reader, m_pieceSize);
  ParsedText parts[2];
  std::string_view piece;
  size_t listed = 0;  // entries handed on before this piece
  while (m_running && pieces.Next(&piece)) {
    parts[0].Clear();
    parts[1].Clear();
    const size_t cut = twoThreads ? LineBoundaryAfter(piece, piece.size() / 2) : piece.size();
    {
      CJoiningThread other;
      if (cut < piece.size()) other.Start([&] { ParseUtf8Text(piece.substr(cut), &parts[1], m_running); });
      ParseUtf8Text(piece.substr(0, cut), &parts[0], m_running);
      other.Join();
    }
    // Progress moves through the piece's share of the file as its entries are handed on.
    const uint64_t before = pieces.BytesBefore();
    const uint64_t share = pieces.BytesRead() - before;
    const size_t count = parts[0].entries.size() + parts[1].entries.size();
    // Hands on part's entries from list position first; false when the sink stopped.
    const auto handOn = [&](const ParsedText& part, size_t first, bool reports) {
      for (size_t n = 0; n < part.entries.size(); ++n) {
        if (reports && ((first + n - listed + 1) & 0xFFF) == 0 && progress)
          progress(before + share * (first + n - listed) / count);
        if (!sink(first + n, part.entries[n].word, part.entries[n].explanation)) return false;
      }
      return true;
    };
    bool going = true;
    if (concurrent && !parts[1].entries.empty()) {
      bool secondGoing = true;
      CJoiningThread other;
      other.Start([&] { secondGoing = handOn(parts[1], listed + parts[0].entries.size(), false); });
      going = handOn(parts[0], listed, true);
      other.Join();
      going = going && secondGoing;
    } else {
      going = handOn(parts[0], listed, true) && handOn(parts[1], listed + parts[0].entries.size(), true);
    }
    if (!going) return Status();
    listed += count;
    for (ParsedText& part : parts) report->Append(std::move(part.report));
  }
  if (pieces.Failed()) return ReadFailure();
  *digest = pieces.Digest();
  return Status();
}

Status CConvertJob::ParseByLines(CTextFileRead& reader, const EntrySink& sink, CRunReport* report,
                                 uint32_t* digest, const ReadProgress& progress) {
  const bool utf8Lines = reader.LinesAreUtf8();
  std::string line;
  std::string word;
  std::string explanation;
  uint64_t bytesRead = 0;
  uint64_t count = 0;
  size_t listed = 0;
  while (m_running && !reader.IsEndOfFile()) {
    if (!reader.ReadLine(line)) break;
    bytesRead += line.size() + 1;
    if ((++count & 0xFFF) == 0 && progress) progress(bytesRead);
    const LineRepairs& repairs = reader.LastLineRepairs();
    // The text after the last line break is a line only when there is some.
    if (line.empty() && reader.IsEndOfFile() && !repairs.Any()) break;
    *digest = Crc32(Crc32(*digest, line.data(), line.size()), "\n", 1);
    report->CountLine();
    if (repairs.Any()) report->Repair(repairs, line);
    LineFields fields;
    if (!SplitLine(line, &fields)) {
      if (!line.empty()) report->Skip(SplitProblem(line), line);  // a blank line is no problem
      continue;
    }
    // A line without a headword has nothing to index.
    if (fields.first.empty()) {
      report->Skip(LineProblem::kEmptyHeadword, line);
      continue;
    }
    std::string_view wordText;
    std::string_view explanationText;
    if (utf8Lines) {
      wordText = TrimFieldChars(fields.first);
      explanationText = TrimFieldChars(fields.second);
    } else {
      if (!AnsiToUtf8(fields.first, &word, m_codePage)) {
        report->Skip(LineProblem::kEmptyHeadword, line);
        continue;
      }
      AnsiToUtf8(fields.second, &explanation, m_codePage);  // an empty one stays empty
      wordText = TrimFieldChars(word);
      explanationText = TrimFieldChars(explanation);
    }
    if (!sink(listed++, wordText, explanationText)) break;
  }
  return Status();
}

size_t CConvertJob::WindowSize() const {
  const uint64_t data = std::max<uint64_t>(m_result.dataSize, 1);
  if (m_windowSize != 0) return static_cast<size_t>(std::min<uint64_t>(data, m_windowSize));
  // What the list's share of memory leaves beside the index: 1.2 times the list's size,
  // so that a tenth of it and some megabytes stay free for the pieces being parsed and the
  // process itself.
  const uint64_t share = m_inputStatus.size + m_inputStatus.size / 5;
  const uint64_t held = m_result.index.MemoryBytes();
  const uint64_t room = share > held ? share - held : 0;
  return static_cast<size_t>(std::min<uint64_t>(data, std::max<uint64_t>(room, kMinWindow)));
}

Status CConvertJob::ReadStarDict() {
  m_report = CRunReport();
  m_report.SetEncoding(TextEncoding::Utf8);
  m_result.index = CSortedIndex();
  m_indexSize = m_dataSize = 0;
  m_tooBig = false;
  // The explanations come out of the dictionary's own layout and are kept, as standard
  // input's are.
  m_canReadAgain = false;
  m_holding = true;
  m_explanations = CTextStore();
  const uint64_t total = m_starDict->WordCount() + m_starDict->SynonymCount();
  uint64_t done = 0;
  const Status read = m_starDict->ReadEntries(m_starDictOptions, [&](const StarDictEntry& e) {
    if ((++done & 0xFFF) == 0) {
      if (!m_running.load(std::memory_order_relaxed)) return false;
      ProgressWithin(5, 28, done, total);
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
    return Collect(e.word, e.explanation);
  });
  if (!read) return read;
  if (m_tooBig) return Status::Error(StatusKind::kTooBig, {}, 0, "more text than a package can hold");
  m_result.indexSize = static_cast<uint32_t>(m_indexSize);
  m_result.dataSize = static_cast<uint32_t>(m_dataSize);
  return Status();
}

Status CConvertJob::WriteOutput() {
  auto start = std::chrono::steady_clock::now();
  if (!SortIndex(&m_result.index, m_threads, &m_running)) return Status::Error(StatusKind::kCancelled);
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
    if (Status filled = FillWindowFromList(window.get(), begin, end, pass, passes); !filled)
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
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  size_t used = 0;
  uint64_t offset = 0;
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
    EntryRecord& r = index.Record(index.ListPosition(k));
    const std::string_view text = m_explanations.View(r.offset, r.size);
    r.offset = static_cast<uint32_t>(offset);
    if (text.empty()) continue;  // viewed as no text at all
    offset += text.size();
    // A failed write is remembered by the file, and its Close reports it.
    if (text.size() > kBufferSize - used) {
      if (!data.Write(buffer.get(), used)) return Status();
      used = 0;
      if (text.size() >= kBufferSize) {
        if (!data.Write(text.data(), text.size())) return Status();
        continue;
      }
    }
    std::memcpy(buffer.get() + used, text.data(), text.size());
    used += text.size();
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

Status CConvertJob::FillWindowFromList(char* window, uint64_t begin, uint64_t end, int pass,
                                       int passes) {
  const Status changed = ListChanged();
  if (!ListUnchanged()) return changed;
  if (!m_inputFile.Seek(0)) return ReadFailure();
  CTextFileRead reader(&m_inputFile, CTextFileRead::kDefaultBlockSize, &m_running, m_forcedEncoding);
  if (reader.HadReadError()) return ReadFailure();
  if (reader.GetEncoding() != m_report.Encoding()) return changed;

  // Every entry must be the one the first reading found, with an explanation of the size
  // it had then.
  const CSortedIndex& index = m_result.index;
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
    CopyIntoWindow(explanation, r->offset, window, begin, end);
    if (i + 1 == index.size()) sawLast = true;
    return true;
  };
  CRunReport ignored;
  uint32_t digest = 0;
  const uint64_t size = m_inputStatus.size;
  Status read = ParseList(reader, place, true, &ignored, &digest, [&](uint64_t bytes) {
    ProgressWithin(30, 50, static_cast<uint64_t>(pass) * size + std::min(bytes, size),
                   static_cast<uint64_t>(passes) * size);
  });
  if (!read) return read;
  if (!m_running.load(std::memory_order_relaxed)) return Status::Error(StatusKind::kCancelled);
  if (!same || !sawLast || digest != m_listDigest) return changed;
  return Status();
}

unsigned long ConvertThreadProc(void* param) {
  CConvertJob* job = static_cast<CConvertJob*>(param);
  // Convert throws nothing; the completion is the worker's last action whatever happens.
  const bool ok = job->Convert();
  if (IConvertObserver* observer = job->Observer()) observer->OnConvertDone(ok, job);
  return 0;
}
