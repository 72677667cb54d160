#include "textio/word_list_source.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/crc32.h"
#include "common/memory_fault.h"
#include "common/text_arena.h"
#include "common/threads.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "textio/line_parse.h"

namespace {

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

// Parses UTF-8 text held in memory into out, reading the explanations' escapes when
// unescape is set. Stops early when the run is cancelled.
void ParseUtf8Text(std::string_view text, ParsedText* out, const SourceReading& how, bool unescape) {
  CUtf8Lines lines(text);
  std::string_view line;
  std::string scratch;
  std::string unescaped;
  uint64_t count = 0;
  while (lines.Next(&line, &scratch)) {
    // Cancelling is noticed within a few milliseconds.
    if ((++count & 0xFFF) == 0 && !how.Running()) return;
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
    const bool cleanedLine = !scratch.empty() && line.data() == scratch.data();
    if (unescape && HoldsEscape(explanation)) {
      UnescapeField(explanation, &unescaped);
      out->entries.push_back({cleanedLine ? out->cleaned.Store(word) : word, out->cleaned.Store(unescaped)});
    } else if (cleanedLine) {
      out->entries.push_back({out->cleaned.Store(word), out->cleaned.Store(explanation)});
    } else {
      out->entries.push_back({word, explanation});
    }
    out->report.CountEntry();
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

// Where the first CR or LF of text lies; npos when there is none.
size_t FirstBreak(std::string_view text) {
  const void* lf = std::memchr(text.data(), '\n', text.size());
  const size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
  const void* cr = std::memchr(text.data(), '\r', end);
  if (cr) return static_cast<size_t>(static_cast<const char*>(cr) - text.data());
  return lf ? end : std::string_view::npos;
}

// A UTF-8 or UTF-16 list as UTF-8 text, in pieces of whole lines, each cut from the text
// exactly where reading the text whole would cut it into lines.
class CPieceReader {
 public:
  // pieceSize: bytes of the file read at a time.
  CPieceReader(CTextFileRead& reader, size_t pieceSize) : m_reader(reader), m_pieceSize(pieceSize) {}

  // The next piece; false at the end of the list or when a read failed. A line longer
  // than kMaxLineBytes comes as a piece of its own with LongLine() set: its first bytes,
  // for the report; the rest of it is read past without being held.
  bool Next(std::string_view* piece) {
    m_longLine = false;
    // What the last piece left over moves to the front.
    if (m_handedOut > 0) {
      m_used -= m_handedOut;
      std::memmove(m_text.data(), m_text.data() + m_handedOut, m_used);
      m_handedOut = 0;
    }
    m_bytesBefore = m_bytesRead;
    size_t searched = 0;  // the text before holds no line break
    for (;;) {
      if (!m_ended && !ReadMore()) return false;
      const std::string_view text(m_text.data(), m_used);
      if (m_skipping) {
        if (SkipToLineEnd(text)) {
          *piece = m_longStart;
          m_longLine = true;
          return true;
        }
        continue;
      }
      // A line longer than may be held is let go of, all but its start. Only the first
      // line can be: every other one came whole in a piece.
      const size_t firstBreak = FirstBreak(text);
      if ((firstBreak == std::string_view::npos ? m_used : firstBreak) > kMaxLineBytes) {
        m_longStart.assign(text.substr(0, CRunReport::kReportedTextBytes));
        m_skipping = true;
        if (SkipToLineEnd(text)) {
          *piece = m_longStart;
          m_longLine = true;
          return true;
        }
        continue;
      }
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

  // Whether the last piece stands for a line too long to hold.
  bool LongLine() const { return m_longLine; }

  bool Failed() const { return m_failed; }
  uint32_t Digest() const { return m_digest; }
  // Bytes of the file read before the last piece, and with it (at most).
  uint64_t BytesBefore() const { return m_bytesBefore; }
  uint64_t BytesRead() const { return m_bytesRead; }

 private:
  // Reads the next part of the file after the text held; false when a read failed.
  bool ReadMore() {
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
    // Nothing more comes at the end of the file or once the run is cancelled (a piece of
    // two or more code units always gives some text).
    m_ended = m_reader.IsEndOfFile() || got == 0 || (!utf16 && static_cast<size_t>(got) < m_pieceSize);
    // A too long line that ended with a CR at the end of the last part: an LF is its.
    if (m_dropLf && m_used > 0) {
      m_dropLf = false;
      if (m_text[0] == '\n') std::memmove(m_text.data(), m_text.data() + 1, --m_used);
    }
    return true;
  }

  // Drops text of a too long line up to its line break, and the break; true when the line
  // has ended (at a break or at the end of the list), with the text after it kept.
  bool SkipToLineEnd(std::string_view text) {
    const size_t at = FirstBreak(text);
    if (at == std::string_view::npos) {
      m_used = 0;
      if (!m_ended) return false;
      m_skipping = false;
      return true;
    }
    size_t end = at + 1;
    if (text[at] == '\r') {
      if (end < text.size()) {
        if (text[end] == '\n') ++end;
      } else {
        m_dropLf = true;
      }
    }
    m_used -= end;
    std::memmove(m_text.data(), m_text.data() + end, m_used);
    m_skipping = false;
    return true;
  }

  CTextFileRead& m_reader;
  const size_t m_pieceSize;
  std::vector<char> m_text;
  // A line too long to hold is being read past; its start, for the report.
  bool m_skipping = false;
  bool m_dropLf = false;
  bool m_longLine = false;
  std::string m_longStart;
  size_t m_used = 0;
  size_t m_handedOut = 0;
  bool m_ended = false;
  bool m_failed = false;
  uint32_t m_digest = 0;
  uint64_t m_bytesBefore = 0;
  uint64_t m_bytesRead = 0;
};

class CWordListSource final : public IEntrySource {
 public:
  CWordListSource(const WordListOptions& options) : m_options(options) {}

  void OpenFile(const std::wstring& path) {
    m_path = path;
    m_opened = m_file.Open(path).WithKind(StatusKind::kInputUnreadable);
    if (m_opened) platform::QueryFileStatus(path, &m_status);
    if (m_options.readLimit != 0) m_file.LimitReads(m_options.readLimit);
  }

  void OpenStream() { m_opened = m_file.OpenStandardInput().WithKind(StatusKind::kInputUnreadable); }

  const Status& Opened() const override { return m_opened; }
  std::wstring Path() const override { return m_path; }
  // Standard input and a FIFO have no size.
  uint64_t Size() const override { return m_status.size; }
  bool CanReadAgain() const override { return m_status.size > 0; }
  bool Close() override {
    m_file.Close();
    return true;
  }

  Status Read(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    if (!m_opened) return m_opened;
    CTextFileRead reader(&m_file, CTextFileRead::kDefaultBlockSize, how.running, m_options.encoding,
                         m_options.codePage);
    if (!reader.IsText()) return Status::Error(StatusKind::kNotText, m_path, 0, "not a text file");
    report->SetEncoding(reader.GetEncoding());
    m_encoding = reader.GetEncoding();
    Status read = ParseList(reader, sink, false, report, &m_digest, how);
    report->SetHeldNonAscii(reader.SawNonAscii());
    if (!read || !how.Running()) return read;
    // A list written to while it was read may have given half its old text and half its new.
    if (CanReadAgain() && !Unchanged()) return Changed();
    return Status();
  }

  // Every entry must come out as the first reading gave it: the job compares headwords and
  // sizes, and the text read must have the first reading's checksum.
  Status ReadAgain(const EntrySink& sink, bool concurrent, const SourceReading& how) override {
    if (!Unchanged()) return Changed();
    if (!m_file.Seek(0)) return ReadFailure();
    CTextFileRead reader(&m_file, CTextFileRead::kDefaultBlockSize, how.running, m_options.encoding,
                         m_options.codePage);
    if (reader.HadReadError()) return ReadFailure();
    if (reader.GetEncoding() != m_encoding) return Changed();
    CRunReport ignored;
    uint32_t digest = 0;
    if (Status read = ParseList(reader, sink, concurrent, &ignored, &digest, how); !read) return read;
    if (how.Running() && digest != m_digest) return Changed();
    return Status();
  }

 private:
  // Whether the list file still has the size and time it had when it was opened.
  bool Unchanged() const {
    platform::FileStatus now;
    return platform::QueryFileStatus(m_path, &now) && now.size == m_status.size &&
           now.modifiedTime == m_status.modifiedTime;
  }

  Status Changed() const {
    return Status::Error(StatusKind::kInputChanged, m_path, 0, "the word list changed while it was converted");
  }

  Status ReadFailure() const { return m_file.LastError().WithKind(StatusKind::kInputUnreadable); }

  // Reads the whole list once, handing every entry to sink in list order; *digest gets the
  // CRC-32 of the text read. A failure of kind kInputUnreadable, or ok (also when sink
  // stopped it or the run was cancelled).
  Status ParseList(CTextFileRead& reader, const EntrySink& sink, bool concurrent, CRunReport* report,
                   uint32_t* digest, const SourceReading& how) {
    *digest = 0;
    // Standard input is read by lines, which needs no more memory than its lines.
    Status read = reader.GetEncoding() != TextEncoding::Ansi && CanReadAgain()
                      ? ParseInPieces(reader, sink, concurrent, report, digest, how)
                      : ParseByLines(reader, sink, report, digest, how);
    // A read error may also have ended the reading early.
    if (read && reader.HadReadError()) read = ReadFailure();
    return read;
  }

  void Progress(const SourceReading& how, uint64_t bytes) const {
    if (how.progress) how.progress(std::min(bytes, m_status.size), m_status.size);
  }

  Status ParseInPieces(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                       CRunReport* report, uint32_t* digest, const SourceReading& how);
  Status ParseByLines(CTextFileRead& reader, const EntrySink& sink, CRunReport* report,
                      uint32_t* digest, const SourceReading& how);

  const WordListOptions m_options;
  platform::CFile m_file;
  std::wstring m_path;
  Status m_opened = Status::Error(StatusKind::kInputUnreadable, {}, 0, "no word list");
  // The list as it was opened: a file of this size and time can be read again.
  platform::FileStatus m_status;
  TextEncoding m_encoding = TextEncoding::Ansi;
  uint32_t m_digest = 0;  // of the text of the first reading
};

// Each piece is parsed by two threads when there are two, each taking about half of its
// lines; the entries are handed on in list order once both are done, or by both threads
// at once, each its own half, when the sink allows.
Status CWordListSource::ParseInPieces(CTextFileRead& reader, const EntrySink& sink, bool concurrent,
                                      CRunReport* report, uint32_t* digest, const SourceReading& how) {
  const bool twoThreads = ThreadCount(how.threads) >= 2 && m_status.size >= m_options.parallelFrom;
  CPieceReader pieces(reader, m_options.pieceSize);
  ParsedText parts[2];
  std::string_view piece;
  size_t listed = 0;  // entries handed on before this piece
  while (how.Running() && pieces.Next(&piece)) {
    if (pieces.LongLine()) {
      CRunReport line;
      line.CountLine();
      line.Skip(LineProblem::kTooLong, piece);
      report->Append(std::move(line));
      continue;
    }
    parts[0].Clear();
    parts[1].Clear();
    const size_t cut = twoThreads ? LineBoundaryAfter(piece, piece.size() / 2) : piece.size();
    {
      CJoiningThread other;
      if (cut < piece.size())
        other.Start([&] { ParseUtf8Text(piece.substr(cut), &parts[1], how, m_options.unescape); });
      ParseUtf8Text(piece.substr(0, cut), &parts[0], how, m_options.unescape);
      other.Join();
    }
    // Progress moves through the piece's share of the file as its entries are handed on.
    const uint64_t before = pieces.BytesBefore();
    const uint64_t share = pieces.BytesRead() - before;
    const size_t count = parts[0].entries.size() + parts[1].entries.size();
    // Hands on part's entries from list position first; false when the sink stopped.
    const auto handOn = [&](const ParsedText& part, size_t first, bool reports) {
      for (size_t n = 0; n < part.entries.size(); ++n) {
        if (reports && ((first + n - listed + 1) & 0xFFF) == 0)
          Progress(how, before + share * (first + n - listed) / count);
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

Status CWordListSource::ParseByLines(CTextFileRead& reader, const EntrySink& sink, CRunReport* report,
                                     uint32_t* digest, const SourceReading& how) {
  const bool utf8Lines = reader.LinesAreUtf8();
  std::string line;
  std::string word;
  std::string explanation;
  std::string unescaped;
  uint64_t bytesRead = 0;
  uint64_t count = 0;
  size_t listed = 0;
  while (how.Running() && !reader.IsEndOfFile()) {
    if (!reader.ReadLine(line)) break;
    bytesRead += line.size() + 1;
    if ((++count & 0xFFF) == 0) Progress(how, bytesRead);
    const LineRepairs& repairs = reader.LastLineRepairs();
    // The text after the last line break is a line only when there is some.
    if (line.empty() && reader.IsEndOfFile() && !repairs.Any()) break;
    *digest = Crc32(Crc32(*digest, line.data(), line.size()), "\n", 1);
    report->CountLine();
    if (reader.LastLineTooLong()) {
      report->Skip(LineProblem::kTooLong, line);
      continue;
    }
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
      if (!AnsiToUtf8(fields.first, &word, m_options.codePage)) {
        report->Skip(LineProblem::kEmptyHeadword, line);
        continue;
      }
      AnsiToUtf8(fields.second, &explanation, m_options.codePage);  // an empty one stays empty
      wordText = TrimFieldChars(word);
      explanationText = TrimFieldChars(explanation);
    }
    if (m_options.unescape && HoldsEscape(explanationText)) {
      UnescapeField(explanationText, &unescaped);
      explanationText = unescaped;
    }
    report->CountEntry();
    if (!sink(listed++, wordText, explanationText)) break;
  }
  return Status();
}

}  // namespace

std::unique_ptr<IEntrySource> OpenWordListFile(const std::wstring& path, const WordListOptions& options) {
  auto source = std::make_unique<CWordListSource>(options);
  source->OpenFile(path);
  return source;
}

std::unique_ptr<IEntrySource> OpenWordListStream(const WordListOptions& options) {
  auto source = std::make_unique<CWordListSource>(options);
  source->OpenStream();
  return source;
}
