#pragma once
// Adding a package to LumoDict's dictionary list, section "Dictionary" of its settings:
//   QueryDictNum          number of entries
//   QueryFileName<m>      path (or network address) of entry m, m counted from 0
//   QueryChecked<m>       1 when the host has the entry ticked, else 0
// The listed entries are the "QueryFileName" keys present numbered below the count, in
// order; when the count is missing, no number, 0 or negative it is taken for damaged and
// every such key present is listed, so that the new package is added after them rather
// than written over the first. Every listed entry is described; entries that cannot be
// described (an entry missing in the middle among them) and an entry with the package's
// own path are dropped, a package already listed under another path is refused, and
// otherwise the kept entries are written back renumbered from 0 with the new package last
// and ticked. Keys numbered above the new count stay in the file untouched. The cost is
// linear in the length of the list.
//
// One registration is one transaction on the settings file: it holds the file's lock from
// the first read to the last write, so that registrations running at once (two dialogs,
// ldic in a script) each build on the one before; and the new list replaces the file in
// one atomic step, so that a failure or a kill at any moment leaves either the old file
// or the complete new one. LumoDict knows nothing of the lock: when it rewrites the file
// in place meanwhile, a reading of the file half written is taken again, and when the
// file holds other bytes by the time the new list is ready, the registration reads it
// again and starts over, a few times, before it fails.

#include <string>

#include "common/warning_sink.h"
#include "host/dict_description.h"

enum class RegisterOutcome {
  kRegistered,   // "词库添加成功！重启Lumo词典生效"
  kDuplicate,    // "您已经添加过相同的词库"; the settings file is unchanged
  kWriteFailed,  // "词库添加失败，请检查Lumo词典的设置文件。", or for lack of space on the
                 // disk "磁盘空间不足，词库添加失败。"
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
