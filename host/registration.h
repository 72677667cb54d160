#pragma once
// Adding a package to LumoDict's dictionary list, section "Dictionary" of its settings:
//   QueryDictNum          number of entries
//   QueryFileName<m>      path (or network address) of entry m, m counted from 0
//   QueryChecked<m>       1 when the host has the entry ticked, else 0
// Every listed entry is described; entries that cannot be described and an entry with
// the package's own path are dropped, a package already listed under another path is
// refused, and otherwise the kept entries are written back renumbered from 0 with the new
// package last and ticked. Keys numbered above the new count stay in the file untouched.
//
// One registration is one transaction on the settings file: it holds the file's lock from
// the first read to the last write, so that registrations running at once (two dialogs,
// ldic in a script) each build on the one before; it reads the file once; and the new
// list replaces the file in one atomic step, so that a failure or a kill at any moment
// leaves either the old file or the complete new one.

#include <string>

#include "common/warning_sink.h"
#include "host/dict_description.h"

enum class RegisterOutcome {
  kRegistered,   // "词库添加成功！重启Lumo词典生效"
  kDuplicate,    // "您已经添加过相同的词库"; the settings file is unchanged
  kWriteFailed,  // "词库添加失败，请检查Lumo词典的设置文件。"
};

// True when the two descriptions are taken for the same dictionary: by checksum when both
// have one, else by word count and index size.
bool IsSameDictionary(const DictDescription& listed, const DictDescription& added);

// Registers the package at packagePath in the settings file at settingsPath and shows the
// outcome's message through owner. A missing settings file is created with the list (its
// folder is not). A file that cannot be locked, read or replaced (a read-only one, say)
// is kWriteFailed and stays as it was, as it does when a listed path is one its encoding
// cannot hold.
RegisterOutcome RegisterPackage(IWarningSink& owner, std::wstring packagePath,
                                const std::wstring& settingsPath);
