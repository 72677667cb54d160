#pragma once
// Reading a word list as lines. The encoding is decided once, at construction: by the
// byte-order mark, or without one from what the start of the file shows (16 MiB at most,
// textio/text_evidence.h), which also tells whether the file is text at all. Lines of an
// ANSI file are handed out as they stand, in the ANSI code page; lines of a UTF-8 or
// UTF-16 file are handed out as UTF-8, so that no character is lost to the code page.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"
#include "platform/file.h"

enum class TextEncoding : int32_t {
  Ansi = 0,
  Utf16BE = 1,
  Utf16LE = 2,
  Utf8 = 3,
};

inline bool IsUtf16(TextEncoding encoding) {
  return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
}

// What cleaning changed in one line: NUL characters left out, and what a conversion
// replaces by U+FFFD (one each): bytes of invalid UTF-8, lone UTF-16 surrogates, and
// bytes of an ANSI line that its code page cannot map.
struct LineRepairs {
  uint32_t nulsDropped = 0;
  uint32_t bytesReplaced = 0;
  bool Any() const { return nulsDropped != 0 || bytesReplaced != 0; }
};

class CAnsiMap;

class CTextFileBase {
 public:
  // The reader uses the file but does not own it unless ownsFile is set.
  CTextFileBase(platform::CFile* file, bool ownsFile, size_t blockSize);
  ~CTextFileBase() { Close(); }
  CTextFileBase(const CTextFileBase&) = delete;
  CTextFileBase& operator=(const CTextFileBase&) = delete;

  virtual void Close();

  TextEncoding GetEncoding() const { return m_encoding; }
  bool IsEndOfFile() const { return m_endOfFile; }
  // True once a read of the file failed (as opposed to reaching its end).
  bool HadReadError() const { return m_readError; }

 protected:
  // Makes sure at least one unread byte is buffered; false at the end of the file.
  bool Fill();
  void Rewind();

  TextEncoding m_encoding = TextEncoding::Ansi;
  platform::CFile* m_file;
  bool m_ownsFile;
  bool m_endOfFile;
  bool m_readError = false;
  const std::atomic<bool>* m_running = nullptr;  // when cleared, reading stops
  std::vector<unsigned char> m_buffer;
  size_t m_bufferPos = 0;   // next byte to hand out
  size_t m_bufferFill = 0;  // bytes the last block delivered
};

class CTextFileRead : public CTextFileBase {
 public:
  static constexpr size_t kDefaultBlockSize = 1 << 16;
  // Bytes of a file examined at most for its encoding, after its byte-order mark; beyond
  // them the file is taken as it would be at its end, so that an endless stream of ASCII
  // is no endless examination.
  static constexpr uint64_t kDetectionBytes = uint64_t{16} << 20;

  // While *running (when given) is set; once it is cleared, the file seems to end at the
  // next block, during the examination of its encoding as well.
  // With an encoding, the file is read in it, whatever its start suggests; a mark of that
  // encoding is still skipped. An ANSI file's lines are checked against codePage (0: the
  // system's).
  explicit CTextFileRead(platform::CFile* file, size_t blockSize = kDefaultBlockSize,
                         const std::atomic<bool>* running = nullptr,
                         std::optional<TextEncoding> encoding = std::nullopt,
                         unsigned codePage = 0);

  // False when the file is no text to read: its start holds NULs or control characters
  // that no word list has (and it is not UTF-16). Read as it is, it would give junk.
  bool IsText() const { return m_isText; }
  // True once the text examined or handed out held a character beyond ASCII.
  bool SawNonAscii() const { return m_sawNonAscii; }

  // True when ReadLine hands out UTF-8 (a UTF-8 or UTF-16 file), false for ANSI lines.
  bool LinesAreUtf8() const { return m_encoding != TextEncoding::Ansi; }

  // False, leaving line untouched, once the end of the file has been reached; otherwise
  // the next line without its line break and without NUL characters. CR LF, a lone CR
  // and a lone LF each end one line; the text after the last break is one more line.
  // An ANSI line is handed out as it stands; its repairs count the bytes its code page
  // cannot map, which converting its fields replaces.
  bool ReadLine(std::string& line);
  // What cleaning changed in the line ReadLine handed out last.
  const LineRepairs& LastLineRepairs() const { return m_lastRepairs; }
  // Whether that line was longer than kMaxLineBytes (textio/line_parse.h): it was handed
  // out cut, and should be skipped.
  bool LastLineTooLong() const { return m_lastLineTooLong; }

  // For a file read whole rather than by lines: the bytes not yet handed out (after the
  // byte-order mark), at most size of them, into out (fewer once the run is cancelled).
  // Returns how many, or -1 when a read failed.
  std::ptrdiff_t ReadRemainder(char* out, size_t size);

  // For a UTF-16 file read whole: the code units not yet handed out, from at most
  // maxBytes bytes of the file, as UTF-8 into out, which must have room for
  // Utf8Room(maxBytes) bytes. Cut by CUtf8Lines, the text gives exactly the lines of
  // ReadLine and their repairs: a lone surrogate becomes the byte 0xFF, which is no UTF-8,
  // for the line to replace by U+FFFD and count; an odd last byte is dropped, and NUL units
  // stay as NUL bytes for the lines to drop. The file may be read in several calls: one
  // that ends before the file does keeps a split unit or surrogate pair for the next, so
  // the pieces put together are the text of one call. Returns the bytes written, or -1
  // when a read failed.
  std::ptrdiff_t ReadRemainderAsUtf8(char* out, size_t maxBytes);
  static size_t Utf8Room(size_t utf16Bytes) { return utf16Bytes / 2 * 3; }

 private:
  void DetectEncoding();
  // Hands the bytes of the file's start to add, after skipping skip bytes: up to the
  // detection's limit or the end of the file.
  void ExamineStart(size_t skip, const std::function<void(const unsigned char*, size_t)>& add);
  // The byte order of a UTF-16 file's code units.
  Utf16ByteOrder UnitOrder() const;
  // Reads one UTF-16 code unit; false at the end of the file.
  bool ReadUnit16(char16_t* unit);
  void ReadLine8(std::string& line);
  void ReadLine16(std::string& line);

  LineRepairs m_lastRepairs;
  bool m_lastLineTooLong = false;
  unsigned m_codePage = 0;
  const CAnsiMap* m_ansiMap = nullptr;  // which bytes the ANSI code page maps
  bool m_isText = true;
  bool m_bytesLookBinary = false;   // the start's verdict as bytes, whatever the encoding
  bool m_startHasHighBytes = false;
  bool m_sawNonAscii = false;
  int m_carriedByte = -1;        // ReadRemainderAsUtf8: half a code unit, from its last call
  char32_t m_highSurrogate = 0;  // and a high surrogate waiting for its partner
  bool m_pendingLf = false;  // the last line ended with CR: a following LF belongs to it
};

// The lines of UTF-8 text held in memory, cut and cleaned exactly as CTextFileRead cuts
// and cleans the lines of a UTF-8 file.
class CUtf8Lines {
 public:
  explicit CUtf8Lines(std::string_view text)
      : m_begin(reinterpret_cast<const unsigned char*>(text.data())),
        m_next(m_begin),
        m_end(m_begin + text.size()),
        // Line breaks are ASCII, so the lines of valid text are valid: one fast check of
        // the whole text spares checking line by line.
        m_allValid(IsValidUtf8(text)) {}

  // The next line; false after the last. The line views the text itself unless it had to
  // be cleaned (NUL characters, invalid UTF-8): then it views *scratch.
  bool Next(std::string_view* line, std::string* scratch);

  // Bytes of the text cut into lines so far, breaks included.
  size_t Consumed() const { return static_cast<size_t>(m_next - m_begin); }
  // What cleaning changed in the line Next handed out last.
  const LineRepairs& Repairs() const { return m_repairs; }

 private:
  LineRepairs m_repairs;
  const unsigned char* m_begin;
  const unsigned char* m_next;
  const unsigned char* m_end;
  bool m_allValid;
};

// Where text can be cut in two without cutting a line: just past the first line break
// at or after position at (a CR LF stays whole); text.size() when no break follows.
size_t LineBoundaryAfter(std::string_view text, size_t at);
