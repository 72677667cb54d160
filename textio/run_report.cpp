#include "textio/run_report.h"

#include <algorithm>
#include <iterator>
#include <utility>

const char* ReportReasonName(ReportReason reason) {
  switch (reason) {
    case ReportReason::kNoSeparator: return "no-separator";
    case ReportReason::kUnclosedQuote: return "unclosed-quote";
    case ReportReason::kEmptyHeadword: return "empty-headword";
    case ReportReason::kTooLong: return "too-long";
    case ReportReason::kRepaired: return "repaired";
    case ReportReason::kUnreadable: return "unreadable";
    case ReportReason::kBinaryOnly: return "binary-only";
    case ReportReason::kLinkLoop: return "link-loop";
    case ReportReason::kLinkTargetMissing: return "link-target-missing";
    case ReportReason::kMerged: return "merged";
    case ReportReason::kDropped: return "dropped";
  }
  return "";
}

void CRunReport::Note(ReportReason reason, std::string_view text, uint64_t number) {
  if (m_lines.size() >= kReportedLines) return;
  m_lines.push_back({number, reason, std::string(text.substr(0, kReportedTextBytes))});
}

void CRunReport::Skip(LineProblem problem, std::string_view text) {
  ++m_skipped[static_cast<size_t>(problem)];
  Note(static_cast<ReportReason>(problem), text, m_linesRead);
}

void CRunReport::Repair(const LineRepairs& repairs, std::string_view text) {
  ++m_repairedLines;
  m_bytesReplaced += repairs.bytesReplaced;
  m_nulsDropped += repairs.nulsDropped;
  Note(ReportReason::kRepaired, text, m_linesRead);
}

std::vector<uint64_t> CRunReport::LineNumbers(std::initializer_list<ReportReason> reasons,
                                              size_t most, bool* more) const {
  std::vector<uint64_t> numbers;
  *more = false;
  for (const ReportedLine& line : m_lines) {
    if (std::find(reasons.begin(), reasons.end(), line.reason) == reasons.end()) continue;
    if (numbers.size() == most) {
      *more = true;
      break;
    }
    numbers.push_back(line.line);
  }
  return numbers;
}

void CRunReport::SkipEntry(ReportReason reason, std::string_view text, uint64_t number) {
  switch (reason) {
    case ReportReason::kUnreadable: ++m_unreadable; break;
    case ReportReason::kBinaryOnly: ++m_binaryOnly; break;
    case ReportReason::kLinkLoop: ++m_linkLoops; break;
    case ReportReason::kLinkTargetMissing: ++m_linkTargetsMissing; break;
    default:  // the problems of a line
      if (static_cast<size_t>(reason) < m_skipped.size()) ++m_skipped[static_cast<size_t>(reason)];
      break;
  }
  Note(reason, text, number != 0 ? number : m_linesRead);
}

void CRunReport::SortByNumber() {
  std::stable_sort(m_lines.begin(), m_lines.end(),
                   [](const ReportedLine& a, const ReportedLine& b) { return a.line < b.line; });
}

void CRunReport::NoteRepeats(ReportReason reason, uint64_t count, std::vector<ReportedLine> lines) {
  (reason == ReportReason::kMerged ? m_merged : m_dropped) = count;
  // A full report no longer knows the lines after its last: none is put there.
  if (m_lines.size() >= kReportedLines)
    std::erase_if(lines, [last = m_lines.back().line](const ReportedLine& l) { return l.line > last; });
  std::vector<ReportedLine> merged;
  merged.reserve(std::min(m_lines.size() + lines.size(), kReportedLines));
  std::merge(std::make_move_iterator(m_lines.begin()), std::make_move_iterator(m_lines.end()),
             std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()),
             std::back_inserter(merged), [](const ReportedLine& a, const ReportedLine& b) { return a.line < b.line; });
  if (merged.size() > kReportedLines) merged.resize(kReportedLines);
  m_lines = std::move(merged);
}

void CRunReport::Append(CRunReport&& later) {
  for (ReportedLine& line : later.m_lines) {
    if (m_lines.size() >= kReportedLines) break;
    line.line += m_linesRead;
    m_lines.push_back(std::move(line));
  }
  m_entryLines.Append(later.m_entryLines, m_linesRead);
  m_linesRead += later.m_linesRead;
  for (size_t i = 0; i < m_skipped.size(); ++i) m_skipped[i] += later.m_skipped[i];
  m_repairedLines += later.m_repairedLines;
  m_bytesReplaced += later.m_bytesReplaced;
  m_nulsDropped += later.m_nulsDropped;
  m_unreadable += later.m_unreadable;
  m_binaryOnly += later.m_binaryOnly;
  m_linkLoops += later.m_linkLoops;
  m_linkTargetsMissing += later.m_linkTargetsMissing;
  m_resourcesLeftOut |= later.m_resourcesLeftOut;
  m_fieldsLeftOut += later.m_fieldsLeftOut;
}

const char* CodePageName(unsigned codePage) {
  switch (codePage) {
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "EUC-KR";
    case 950: return "Big5";
    case 54936: return "GB18030";
    default: return "ANSI";
  }
}
