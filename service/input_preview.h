#pragma once
// What the dialog's preview shows of an input before it is converted: its first entries
// exactly as the conversion makes them (read through the conversion's own entry source,
// OpenInput), the lines among them that the conversion skips and why, and what the input
// tells of itself: a word list's encoding, line breaks and separators, a dictionary's
// name and entry count.
//
// The reading is bounded: it stops soon after the entries wanted, and reads no more of a
// word list than its first PreviewLimits::bytes, which by default is what the encoding's
// examination reads anyway, so that the encoding shown is the one a conversion detects.
// The input is closed before PreviewInput returns.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/conversion_service.h"
#include "textio/run_report.h"

struct PreviewEntry {
  uint64_t line = 0;  // of a word list, from 1; a dictionary's entry number
  std::string word;   // UTF-8, as the package holds it
  std::string explanation;
};

struct PreviewLimits {
  size_t entries = 200;
  // Bytes of a word list file read at most: its byte-order mark and the start its
  // encoding is judged by.
  uint64_t bytes = CTextFileRead::kDetectionBytes + 3;
};

// How a word list's lines end and where they split.
struct LineShapes {
  uint64_t crLf = 0;
  uint64_t lf = 0;
  uint64_t cr = 0;
  uint64_t tabs = 0;    // lines split at a TAB
  uint64_t commas = 0;  // lines split at a comma
};

struct InputPreview {
  // A failure when the input could not be read (MessageFor gives its message); what was
  // read before it is kept.
  Status status;
  // The encoding the list was read in (the one chosen, or the one a conversion detects);
  // a dictionary's text is UTF-8.
  TextEncoding encoding = TextEncoding::Utf8;
  // The one a conversion detects, also when another was chosen.
  TextEncoding detected = TextEncoding::Utf8;
  // Of the lines covered: a word list's only.
  LineShapes shapes;
  // A dictionary's name and the entries it says it holds.
  std::wstring name;
  uint64_t declaredEntries = 0;
  // The first entries, in the input's order, and the lines (a dictionary's entries) left
  // out among them, with the run report's reasons, in order; their text as UTF-8.
  std::vector<PreviewEntry> entries;
  std::vector<ReportedLine> skipped;
  // Lines (a dictionary's entries) the preview covers: up to its last entry when it holds
  // as many as it may, else all it read.
  uint64_t lines = 0;
  // The input goes on beyond what the preview covers.
  bool more = false;
};

// Previews request's input (its path, format, code page, escapes and markup choice as a
// conversion takes them) read in encoding when given. Stops early, keeping what it has,
// once *running is cleared.
InputPreview PreviewInput(const ConvertRequest& request, std::optional<TextEncoding> encoding,
                          const PreviewLimits& limits = {}, const std::atomic<bool>* running = nullptr);
