#pragma once
// An INI file in the Windows private-profile format, read once and held whole in memory:
// values are read as the private-profile functions read them, edits are made as those
// functions write (byte for byte for the lines they change or add), and the result
// replaces the file in one atomic step. LumoDict's settings file is such a file.
//
// Reading:
//   - section and key names are compared without regard to letter case, blanks around
//     names and values are ignored, and within the first section of a name the first
//     line with the key counts;
//   - a value enclosed in a matching pair of single or double quotes loses the quotes;
//   - a string value is read into a 4096-character buffer, so at most 4095 characters;
//   - an integer is the value's optional sign and leading decimal digits; a missing key
//     or an empty value gives the default.
// Editing:
//   - a changed key keeps its place and the spelling of its name (and its own line end);
//     a new key goes after the last line of its section that is not blank; a missing
//     section goes at the end of the file with its key;
//   - new lines are written as "key=value" and end with CR LF;
//   - every other byte stays as it was: comments, blank lines, blanks around "=", bytes
//     that are no character of the file's encoding;
//   - the file keeps its encoding: UTF-16 (either byte order) or UTF-8 when it starts
//     with that byte-order mark, otherwise the ANSI code page (a new file is ANSI, as
//     Windows makes it). A UTF-16 file is read in whole code units: an odd last byte is
//     half a character that no reader can use, and it is dropped when the file is
//     rewritten rather than left to put everything after it half a character off;
//   - a value the file's encoding cannot hold is refused, rather than stored as "?".
//
// Here we deliberately deviate from Wine, which rewrites the whole file from its parsed
// form (dropping blank lines and the blanks around "="): a settings file the user may
// have edited by hand keeps everything we did not change.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "platform/file_system.h"

namespace platform {

// A string value is read into a buffer of this many characters, its last one the
// terminator.
constexpr size_t kProfileStringBufferLength = 4096;

class CIniDocument {
 public:
  CIniDocument();
  ~CIniDocument();
  CIniDocument(CIniDocument&&) noexcept;
  CIniDocument& operator=(CIniDocument&&) noexcept;

  // Reads the file at path. A missing file is an empty document (Commit creates it, but
  // not its folder); a folder or a file that cannot be read fails.
  //
  // Another program may be writing the file in place (emptying it, then writing it
  // again): a reading during which the file changed, or that got fewer bytes than the
  // file's size, is taken again, and so is an empty file written in the last moments,
  // for a fraction of a second at most; an empty file that stays so is empty. A file
  // still changing then fails (kChanged): part of it must not pass for the whole.
  Status Load(const std::wstring& path);

  int GetProfileInt(std::wstring_view section, std::wstring_view key, int defaultValue) const;
  std::wstring GetProfileString(std::wstring_view section, std::wstring_view key,
                                std::wstring_view defaultValue) const;
  // The names of the keys in the first section of that name, in the file's order.
  std::vector<std::wstring> KeyNames(std::wstring_view section) const;

  // True when value can be written without loss of characters (an ANSI file cannot hold
  // characters outside its code page).
  bool CanStoreString(std::wstring_view value) const;
  // Edits the document in memory. False, changing nothing, when a name is empty or the
  // encoding cannot hold the names or the value.
  bool SetProfileString(std::wstring_view section, std::wstring_view key,
                        std::wstring_view value);
  bool SetProfileInt(std::wstring_view section, std::wstring_view key, int value);

  // The file's bytes as the document now holds them.
  std::string Bytes() const;
  // Replaces the file with Bytes() in one atomic step (WriteFileAtomically) when an edit
  // changed anything; the file is untouched otherwise, as Windows leaves it when a value
  // is written unchanged. Only the file as Load read it is replaced: when another
  // program has written other bytes into it since, nothing is and the status is kChanged
  // (Load again and redo the edit). A committed document is loaded again before it is
  // edited further.
  Status Commit();

 private:
  struct Content;
  std::wstring m_path;
  std::unique_ptr<Content> m_content;
  std::string m_read;       // the file's bytes as Load read them
  FileIdentity m_identity;  // and its identity then
  bool m_changed = false;
};

}  // namespace platform
