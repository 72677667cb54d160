#pragma once
// Reading a whole MDict dictionary (.mdx, versions 1.2 and 2.0) to convert it: the header's
// facts, every key and its record, style sheets expanded, HTML made into text, and
// "@@@LINK=" records resolved into entries of their own. The resources of a NAME.mdd beside
// it are not read; the facts only tell that it is there.
//
// Every size and count the file declares is checked against the file and against what its
// blocks really decompress to, so a damaged or hostile file gives a failure or unreadable
// entries, never a read outside the data, and no allocation larger than what its data
// holds. Opening keeps every key in memory; reading keeps one record block at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/status.h"

enum class MdictEncoding { kUtf8, kUtf16, kGb18030, kBig5 };
enum class MdictFormat { kHtml, kText };

struct MdictFacts {
  std::string engineVersion;    // GeneratedByEngineVersion as written: "2.0", "1.2"
  unsigned version = 0;         // the same in hundredths: 200, 120
  std::string encodingName;     // Encoding as written ("" for none)
  MdictEncoding encoding = MdictEncoding::kUtf8;
  MdictFormat format = MdictFormat::kHtml;
  bool keyCaseSensitive = false;
  int encrypted = 0;            // the Encrypted bits: 1 a registration key, 2 the key index
  // Text values as UTF-8, their entities decoded.
  std::string title;            // as written (HTML)
  std::string titleText;        // the title as plain text; empty when there is none
  std::string description;      // as written (HTML)
  std::string styleSheet;
  uint64_t entryCount = 0;      // the keys the file declares
  bool hasResourcesBeside = false;  // a NAME.mdd lies beside NAME.mdx
};

struct MdictOptions {
  // The HTML kept (style sheet expanded) instead of made into plain text.
  bool keepMarkup = false;
  // Every record as stored, in its entry: no style sheet, no conversion, links handed as
  // links. For checking a file against what another reader finds in it.
  bool rawRecords = false;
  // Told every thousand or so entries and at the end: how many have been handed, of
  // EntryCount().
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Threads that may work at once: with two or more, the record blocks are read and
  // decompressed on a thread of their own, ahead of the entries made of them.
  unsigned threads = 1;
};

enum class MdictProblem {
  kNone,
  kEmptyHeadword,      // the key is empty (or only blanks): not to be converted
  kUnreadable,         // its record lies in a damaged block (for an alias: its target's)
  kLinkLoop,           // an alias whose links lead round in a circle
  kLinkTargetMissing,  // an alias whose target is no key of the dictionary
};

struct MdictEntry {
  // The key's number from 1, in the file's order; an alias's own number.
  uint64_t number = 0;
  // UTF-8, valid during the call only. The headword without surrounding ASCII blanks.
  std::string_view word;
  // Empty when the record cannot be told (an unreadable one, an alias that leads nowhere).
  std::string_view explanation;
  MdictProblem problem = MdictProblem::kNone;
  // An alias ("@@@LINK=" record): its explanation is that of a key it leads to.
  bool link = false;
};

struct MdictReaderState;

class CMdictReader {
 public:
  CMdictReader();
  ~CMdictReader();
  CMdictReader(const CMdictReader&) = delete;
  CMdictReader& operator=(const CMdictReader&) = delete;

  // Reads the header, every key and the record blocks' index. A failure names the file
  // and what is wrong: kInputProtected for a dictionary locked to a registration key,
  // kInputVersionTooNew for version 3.0 and later, kMdictEncodingUnknown for an encoding
  // it does not read (the reason names it), kMdictDamaged for damage, kInputUnreadable
  // when the file cannot be read.
  Status Open(const std::wstring& path);

  const MdictFacts& Facts() const;
  // Reads only the header and the key counts, for the facts a front end shows before
  // converting; the same refusals as Open, with the facts filled as far as they were read.
  static Status ReadFacts(const std::wstring& path, MdictFacts* facts);
  uint64_t EntryCount() const;
  // Bytes of the records, decompressed, as the record section declares them.
  uint64_t RecordSize() const;
  // Whether the file still has the size and time it had when opened.
  bool Unchanged() const;

  // Hands every key to visit, in the file's order, except the aliases: they follow all the
  // others, first those that lead nowhere (in the file's order, with their problem), then
  // the rest grouped by the record they lead to (so that each record is read once more at
  // most); an alias whose target key is repeated comes once for each of its records. An
  // alias whose own record is unreadable, or whose headword is empty, comes in the file's
  // order. visit returns false to stop early. kCancelled when running turns false; a
  // failure when the file cannot be read, or its links are too tangled to follow.
  Status ReadEntries(const MdictOptions& options, const std::function<bool(const MdictEntry&)>& visit,
                     const std::atomic<bool>* running = nullptr);

 private:
  std::unique_ptr<MdictReaderState> m_state;
};

// True when path names an MDict dictionary by its extension (".mdx", any case).
bool IsMdictPath(const std::wstring& path);
