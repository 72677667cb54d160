#pragma once
// A word list as a source of entries: every line split, converted and trimmed into a
// headword and an explanation (textio/line_parse.h), its problems told to the run report.
//
// A UTF-8 or UTF-16 list that is a file is read in pieces of whole lines, each parsed by
// two threads when there are two and the list is large; an ANSI list and standard input
// are read line by line, which gives the same entries. A file can be read again; a list
// that changed between its readings, or while a reading went on, fails with kInputChanged
// rather than give a wrong package.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "textio/entry_source.h"
#include "textio/text_file.h"

struct WordListOptions {
  // Read in this encoding instead of the detected one.
  std::optional<TextEncoding> encoding;
  // An ANSI list's code page; 0 is the system's.
  unsigned codePage = 0;
  // Explanations' escapes (\n, \r, \t, \\) read as what they stand for, as ldic dump
  // writes them (textio/line_parse.h: UnescapeField); headwords are taken as they stand.
  bool unescape = false;
  // Bytes of the file read at a time. Tests make it small, so that small lists cross many
  // piece boundaries.
  size_t pieceSize = size_t{4} << 20;
  // Lists from this size on are parsed by two threads when there are two; below it a
  // second thread costs more than it saves. Tests lower it.
  size_t parallelFrom = size_t{1} << 20;
  // No more of the file is read than its first readLimit bytes, as if it ended there; 0
  // reads it all. A preview's bound.
  uint64_t readLimit = 0;
};

// The word list at path, opened read-only and without sharing.
std::unique_ptr<IEntrySource> OpenWordListFile(const std::wstring& path, const WordListOptions& options = {});
// The word list on standard input: its size is unknown and it is read once.
std::unique_ptr<IEntrySource> OpenWordListStream(const WordListOptions& options = {});
