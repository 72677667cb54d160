#pragma once
// Reading a whole dictionary in the StarDict layout, to convert it: NAME.ifo, its index
// NAME.idx (or NAME.idx.gz), its data NAME.dict (or NAME.dict.dz, read through the
// dictzip chunk table when it has one, else inflated into a scratch file first) and the
// synonyms of NAME.syn when there are any.
//
// Every size and offset is checked against the files before it is used, so a damaged or
// hostile dictionary gives a failure or an unreadable entry, never a read outside the
// data, and no allocation is larger than what the files hold (a gzip file's content is
// grown as it inflates, not sized by its own claims).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/status.h"

struct StarDictFacts {
  std::string formatVersion;  // "2.4.2" or "3.0.0"
  std::string bookName;       // text values: the .ifo's bytes (UTF-8)
  std::string author;
  std::string date;
  std::string description;
  std::string sameTypeSequence;
  int offsetBits = 32;        // of the offsets in the index: 32 or 64
  uint64_t wordCount = 0;     // the index's entries and the synonyms, as the .ifo says
  uint64_t synonymCount = 0;
};

struct StarDictOptions {
  // HTML, Pango markup and XDXF kept as they are instead of made into plain text.
  bool keepMarkup = false;
  // The code page of 'l' fields (text in the encoding of the dictionary maker's system);
  // 0 is the system's ANSI code page.
  unsigned codePage = 0;
  // Where a data file that is plain gzip is inflated to be read (a scratch file, created
  // exclusively and removed with the reader); the dictionary's own folder when empty.
  std::wstring scratchFolder;
};

struct StarDictEntry {
  // The record's number from 1: in the index, or for a synonym in the synonym file.
  uint64_t number = 0;
  bool synonym = false;
  std::string_view word;
  // The text fields, each made into UTF-8 text and joined by line breaks.
  std::string_view explanation;
  // Fields of binary types (sounds, pictures, resources) left out.
  uint32_t binaryFields = 0;
  // Its data lies outside the data file or is damaged: the entry has no explanation and
  // is not converted.
  bool unreadable = false;
};

class CStarDictReader {
 public:
  CStarDictReader();
  ~CStarDictReader();
  CStarDictReader(const CStarDictReader&) = delete;
  CStarDictReader& operator=(const CStarDictReader&) = delete;

  // Reads the .ifo and the synonyms and finds the index and the data. A failure names
  // the file and what is wrong with it.
  Status Open(const std::wstring& ifoPath);

  const StarDictFacts& Facts() const;
  // Reads only the .ifo, for the facts a front end shows before converting.
  static Status ReadFacts(const std::wstring& ifoPath, StarDictFacts* facts);
  // Records in the index, as the .ifo counts them, and in the synonym file.
  uint64_t WordCount() const;
  uint64_t SynonymCount() const;
  // Bytes of text the dictionary holds, about: its index, synonyms and inflated data.
  uint64_t TextSize() const;
  // Whether the files still have the sizes and times they had when opened.
  bool Unchanged() const;
  // Removes the scratch file of inflated data, if there is one (reading again makes it
  // anew); false when it could not be removed.
  bool Close();

  // Visits the index's entries in their order, then the synonyms; visit returns false to
  // stop early. The views in an entry are valid during the call only. The index is read
  // as it goes, a gzip one inflated in pieces, so that memory holds no more of it than
  // the synonyms need. A failure when the index or the data cannot be read, or the index
  // is damaged (entries before the damage have been visited). Once *running (when given)
  // is cleared it stops soon, with success.
  Status ReadEntries(const StarDictOptions& options,
                     const std::function<bool(const StarDictEntry&)>& visit,
                     const std::atomic<bool>* running = nullptr);

 private:
  Status OpenFiles(const std::wstring& ifoPath);

  struct State;
  std::unique_ptr<State> m_state;
};

// True when path names a StarDict information file by its extension (".ifo", any case).
bool IsStarDictPath(const std::wstring& path);
