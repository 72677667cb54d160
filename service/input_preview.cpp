#include "service/input_preview.h"

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "platform/text_convert.h"

namespace {

// Counts how the first `lines` lines of a word list end and where they split, from the
// file's bytes: CR, LF, TAB, the comma and the double quote are ASCII, and no byte of a
// multi-byte character of UTF-8 or of the ANSI code pages read (GBK, GB18030, Big5,
// Shift_JIS) is one of them; UTF-16 is looked at code unit by code unit. A line splits
// where SplitLine splits it: at its first TAB or comma outside double quotes.
class CShapeCounter {
 public:
  CShapeCounter(LineShapes* shapes, uint64_t lines) : m_shapes(shapes), m_lines(lines) {}

  // One character of the text (a code unit beyond ASCII as any other letter); false once
  // the lines wanted are counted.
  bool Add(unsigned c) {
    if (m_pendingCr) {
      m_pendingCr = false;
      if (c == '\n') return EndLine(&m_shapes->crLf);
      if (!EndLine(&m_shapes->cr)) return false;
    }
    switch (c) {
      case '\r': m_pendingCr = true; break;
      case '\n': return EndLine(&m_shapes->lf);
      case '"':
        if (m_state == kOpen) m_state = kQuoted;
        else if (m_state == kQuoted) m_state = kOpen;
        break;
      case '\t':
      case ',':
        if (m_state == kOpen) m_state = c == '\t' ? kTab : kComma;
        break;
      default: break;
    }
    return true;
  }

  // The end of the text: a CR there ends its line; a last line without a break is split
  // all the same.
  void Finish() {
    if (m_pendingCr) {
      m_pendingCr = false;
      EndLine(&m_shapes->cr);
    } else if (m_counted < m_lines) {
      EndLine(nullptr);
    }
  }

 private:
  enum State { kOpen, kQuoted, kTab, kComma };

  bool EndLine(uint64_t* breaks) {
    if (breaks != nullptr) ++*breaks;
    if (m_state == kTab) ++m_shapes->tabs;
    if (m_state == kComma) ++m_shapes->commas;
    m_state = kOpen;
    return ++m_counted < m_lines;
  }

  LineShapes* m_shapes;
  const uint64_t m_lines;
  uint64_t m_counted = 0;
  State m_state = kOpen;
  bool m_pendingCr = false;
};

void CountLineShapes(const std::wstring& path, TextEncoding encoding, uint64_t readLimit, uint64_t lines,
                     LineShapes* shapes) {
  if (lines == 0) return;
  platform::CFile file;
  if (!file.Open(path)) return;
  file.LimitReads(readLimit);
  CShapeCounter counter(shapes, lines);
  const bool utf16 = IsUtf16(encoding);
  const bool little = encoding == TextEncoding::Utf16LE;
  std::vector<unsigned char> block(1 << 16);
  int carried = -1;  // the first byte of a code unit the last block cut
  uint64_t position = 0;
  for (;;) {
    const std::ptrdiff_t got = file.Read(block.data(), block.size());
    if (got <= 0) break;
    for (std::ptrdiff_t i = 0; i < got; ++i, ++position) {
      unsigned c = block[static_cast<size_t>(i)];
      if (utf16) {
        if (carried < 0) {
          carried = static_cast<int>(c);
          continue;
        }
        c = little ? static_cast<unsigned>(carried) | c << 8 : static_cast<unsigned>(carried) << 8 | c;
        carried = -1;
        if (position == 1 && c == 0xFEFF) continue;  // the byte-order mark
      }
      if (!counter.Add(c < 0x80 ? c : 'x')) return;
    }
  }
  counter.Finish();
}

}  // namespace

InputPreview PreviewInput(const ConvertRequest& request, std::optional<TextEncoding> encoding,
                          const PreviewLimits& limits, const std::atomic<bool>* running) {
  InputPreview preview;
  const bool dictionary = IsDictionaryFormat(request.format);
  if (dictionary) {
    InputDefaults defaults;
    if (Status read = ReadInputDefaults(request.format, request.wordList, &defaults); !read) {
      preview.status = read;
      return preview;
    }
    preview.name = defaults.name;
    preview.declaredEntries = defaults.entries;
  }

  const uint64_t readLimit = dictionary ? 0 : limits.bytes;
  std::unique_ptr<IEntrySource> source = OpenInput(request, encoding, readLimit);
  if (!source->Opened()) {
    preview.status = source->Opened();
    source->Close();
    return preview;
  }
  // The reading is told to stop once one entry more than is shown has come, which tells
  // that the input goes on. A sink that refused an entry instead could lose the report of
  // the lines read with it.
  std::atomic<bool> going{true};
  const auto stillWanted = [&] {
    if (running != nullptr && !running->load(std::memory_order_relaxed)) going = false;
    return going.load(std::memory_order_relaxed);
  };
  bool sawMore = false;
  SourceReading how;
  how.running = &going;
  how.progress = [&](uint64_t, uint64_t) { stillWanted(); };
  CRunReport report;
  preview.status = source->Read(
      [&](size_t i, std::string_view word, std::string_view explanation) {
        if (!stillWanted()) return true;
        if (i < limits.entries) {
          preview.entries.push_back({0, std::string(word), std::string(explanation)});
        } else {
          sawMore = true;
          going = false;
        }
        return true;
      },
      &report, how);
  source->Close();
  // The source may have been stopped by the reading's end: the entries come in order, so
  // those kept are the first.
  for (size_t i = 0; i < preview.entries.size(); ++i) preview.entries[i].line = report.LineOfEntry(i);
  preview.encoding = report.Encoding();
  preview.detected = preview.encoding;
  if (!dictionary && encoding) {
    platform::CFile file;
    if (file.Open(request.wordList)) {
      file.LimitReads(readLimit);
      preview.detected = CTextFileRead(&file, CTextFileRead::kDefaultBlockSize, running, std::nullopt,
                                       request.codePage).GetEncoding();
    }
  }

  const bool cutShort = !dictionary && readLimit != 0 && source->Size() > readLimit;
  preview.more = sawMore || cutShort;
  if (sawMore && !preview.entries.empty()) {
    preview.lines = preview.entries.back().line;
  } else {
    preview.lines = report.LinesRead();
    // The file seemed to end at the bound: its last line may be cut short there, and what
    // it gave is not what the conversion gets of it.
    if (cutShort && preview.lines > 0) {
      --preview.lines;
      while (!preview.entries.empty() && preview.entries.back().line > preview.lines) preview.entries.pop_back();
    }
  }
  // Repaired lines gave their entries. A StarDict dictionary tells the entries it leaves
  // out by their numbers, which may follow another order.
  for (const ReportedLine& line : report.Lines())
    if (line.line <= preview.lines && line.reason != ReportReason::kRepaired) {
      preview.skipped.push_back(line);
      // An ANSI list's lines are told as they were read.
      if (preview.encoding == TextEncoding::Ansi)
        preview.skipped.back().text = platform::AnsiToUtf8(line.text, request.codePage);
    }
  std::stable_sort(preview.skipped.begin(), preview.skipped.end(),
                   [](const ReportedLine& a, const ReportedLine& b) { return a.line < b.line; });
  if (preview.skipped.size() > limits.entries) preview.skipped.resize(limits.entries);
  if (!dictionary && preview.status)
    CountLineShapes(request.wordList, preview.encoding, readLimit, preview.lines, &preview.shapes);
  return preview;
}
