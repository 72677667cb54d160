#pragma once
// Adding a package to LumoDict's dictionary list, section "Dictionary" of its settings:
//   QueryDictNum          number of entries
//   QueryFileName<m>      path (or network address) of entry m, m counted from 0
//   QueryChecked<m>       1 when the host has the entry ticked, else 0
// Every listed entry is described; entries that cannot be described and an entry with
// the package's own path are dropped, a package already listed under another path is
// refused, and otherwise the kept entries are written back renumbered from 0 with the new
// package last and ticked. Keys numbered above the new count stay in the file untouched.

#include <string>

#include "common/warning_sink.h"
#include "host/dict_description.h"
#include "platform/profile.h"

enum class RegisterOutcome {
  kRegistered,   // "词库添加成功！重启Lumo词典生效"
  kDuplicate,    // "您已经添加过相同的词库"; the settings file is unchanged
  kWriteFailed,  // "词库添加失败，请检查Lumo词典的设置文件。"
};

// True when the two descriptions are taken for the same dictionary: by checksum when both
// have one, else by word count and index size.
bool IsSameDictionary(const DictDescription& listed, const DictDescription& added);

// Registers the package at packagePath in the settings behind profile and shows the
// outcome's message through owner.
RegisterOutcome RegisterPackage(IWarningSink& owner, std::wstring packagePath,
                                platform::IProfileStore& profile);
