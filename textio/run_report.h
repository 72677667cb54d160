#pragma once
// What a conversion made of its word list, for the user: lines read, entries made, the
// lines that gave no entry or had to be repaired (the first kReportedLines of them with
// their line numbers and text, counts for all), repeated headwords and the encoding.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "textio/entry_lines.h"
#include "textio/line_parse.h"
#include "textio/text_file.h"

// Why a line is in the report: one of the problems that drop it, or a repair.
enum class ReportReason : uint8_t {
  kNoSeparator = static_cast<uint8_t>(LineProblem::kNoSeparator),
  kUnclosedQuote = static_cast<uint8_t>(LineProblem::kUnclosedQuote),
  kEmptyHeadword = static_cast<uint8_t>(LineProblem::kEmptyHeadword),
  kTooLong = static_cast<uint8_t>(LineProblem::kTooLong),
  kRepaired,  // NULs dropped or characters replaced (LineRepairs); the line still gave its entry
  // Entries of a dictionary left out: their data is damaged or outside the data file, or
  // they hold sounds, pictures and the like but no text.
  kUnreadable,
  kBinaryOnly,
  // Aliases of an MDict dictionary left out: their links lead round in a circle, or to no
  // key of the dictionary.
  kLinkLoop,
  kLinkTargetMissing,
  // Entries whose headword an earlier entry has, merged into its entry or dropped.
  kMerged,
  kDropped,
};

// A short name of a reason, for ldic's report: "no-separator", "unclosed-quote",
// "empty-headword", "too-long", "repaired", "unreadable", "binary-only", "link-loop",
// "link-target-missing", "merged", "dropped".
const char* ReportReasonName(ReportReason reason);

struct ReportedLine {
  uint64_t line = 0;  // from 1
  ReportReason reason = ReportReason::kNoSeparator;
  std::string text;   // the line as read, cut at kReportedTextBytes
};

class CRunReport {
 public:
  static constexpr size_t kReportedLines = 10000;
  static constexpr size_t kReportedTextBytes = 200;

  // Counting, in line order.
  void CountLine() { ++m_linesRead; }
  // The line just counted gave the next entry.
  void CountEntry() { m_entryLines.Add(m_linesRead); }
  void Skip(LineProblem problem, std::string_view text);
  void Repair(const LineRepairs& repairs, std::string_view text);
  // An entry of a dictionary left out (kEmptyHeadword, kUnreadable, kBinaryOnly,
  // kLinkLoop or kLinkTargetMissing), told by text; its number is the count of entries so
  // far, as a line's is, or number when the dictionary hands its entries in another order
  // than it numbers them (then SortByNumber once all are told).
  void SkipEntry(ReportReason reason, std::string_view text, uint64_t number = 0);
  // The entries kept in order of their numbers, for a dictionary whose entries came in
  // another order.
  void SortByNumber();
  // The dictionary's resources beside it (pictures, sounds) are not converted.
  void LeaveOutResources() { m_resourcesLeftOut = true; }
  // Fields of binary types left out of entries that kept their text.
  void LeaveOutFields(uint32_t count) { m_fieldsLeftOut += count; }
  // Takes over the report of the text that followed this one's.
  void Append(CRunReport&& later);

  void SetEntries(uint64_t entries) { m_entries = entries; }
  void SetRepeatedHeadwords(uint64_t count) { m_repeatedHeadwords = count; }
  void SetEncoding(TextEncoding encoding) { m_encoding = encoding; }
  // Entries merged into an earlier one with their headword (kMerged) or dropped for it
  // (kDropped): how many, and the first of them in list order with their lines.
  void NoteRepeats(ReportReason reason, uint64_t count, std::vector<ReportedLine> lines);
  // The input is a dictionary: its report counts entries, numbered in the dictionary's
  // order, rather than lines.
  void SetCountsEntries() { m_countsEntries = true; }
  // Whether the list held characters beyond ASCII, whose reading the encoding decided.
  void SetHeldNonAscii(bool held) { m_heldNonAscii = held; }

  uint64_t LinesRead() const { return m_linesRead; }
  uint64_t Entries() const { return m_entries; }
  uint64_t Skipped(LineProblem problem) const { return m_skipped[static_cast<size_t>(problem)]; }
  uint64_t SkippedLines() const {
    uint64_t lines = 0;
    for (const uint64_t count : m_skipped) lines += count;
    return lines;
  }
  uint64_t RepairedLines() const { return m_repairedLines; }
  uint64_t BytesReplaced() const { return m_bytesReplaced; }
  uint64_t NulsDropped() const { return m_nulsDropped; }
  uint64_t RepeatedHeadwords() const { return m_repeatedHeadwords; }
  uint64_t UnreadableEntries() const { return m_unreadable; }
  uint64_t BinaryOnlyEntries() const { return m_binaryOnly; }
  uint64_t LinkLoops() const { return m_linkLoops; }
  uint64_t LinkTargetsMissing() const { return m_linkTargetsMissing; }
  bool ResourcesLeftOut() const { return m_resourcesLeftOut; }
  uint64_t FieldsLeftOut() const { return m_fieldsLeftOut; }
  uint64_t MergedEntries() const { return m_merged; }
  uint64_t DroppedEntries() const { return m_dropped; }
  // The line of the entry at list position entry, as the reading counted it; 0 when the
  // reading did not say.
  uint64_t LineOfEntry(uint64_t entry) const { return m_entryLines.LineOf(entry); }
  TextEncoding Encoding() const { return m_encoding; }
  bool CountsEntries() const { return m_countsEntries; }
  bool HeldNonAscii() const { return m_heldNonAscii; }
  // Entries of a dictionary left out, for every reason.
  uint64_t SkippedEntries() const {
    return SkippedLines() + m_unreadable + m_binaryOnly + m_linkLoops + m_linkTargetsMissing;
  }
  // True when a line or entry was skipped or repaired (merged and dropped repeats were
  // asked for, and are none).
  bool HasProblems() const { return SkippedEntries() != 0 || m_repairedLines != 0; }
  // The first kReportedLines lines skipped, repaired or folded into an earlier entry, in
  // line order.
  const std::vector<ReportedLine>& Lines() const { return m_lines; }
  // The numbers of the first `most` of those lines with one of these reasons; *more tells
  // whether the report kept further ones.
  std::vector<uint64_t> LineNumbers(std::initializer_list<ReportReason> reasons, size_t most,
                                    bool* more) const;

 private:
  void Note(ReportReason reason, std::string_view text, uint64_t number);

  uint64_t m_linesRead = 0;
  uint64_t m_entries = 0;
  std::array<uint64_t, 4> m_skipped{};
  uint64_t m_repairedLines = 0;
  uint64_t m_bytesReplaced = 0;
  uint64_t m_nulsDropped = 0;
  uint64_t m_repeatedHeadwords = 0;
  uint64_t m_unreadable = 0;
  uint64_t m_binaryOnly = 0;
  uint64_t m_linkLoops = 0;
  uint64_t m_linkTargetsMissing = 0;
  uint64_t m_fieldsLeftOut = 0;
  bool m_resourcesLeftOut = false;
  uint64_t m_merged = 0;
  uint64_t m_dropped = 0;
  CEntryLines m_entryLines;
  TextEncoding m_encoding = TextEncoding::Ansi;
  bool m_countsEntries = false;
  bool m_heldNonAscii = false;
  std::vector<ReportedLine> m_lines;
};

// The usual name of an ANSI code page's encoding: "GBK" for 936, "Big5" for 950,
// "Shift_JIS" for 932, "EUC-KR" for 949, "GB18030" for 54936, "ANSI" for any other.
const char* CodePageName(unsigned codePage);
