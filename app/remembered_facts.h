#pragma once
// The facts a user typed for the last conversion, and the folder of its list, kept per user
// under HKEY_CURRENT_USER\Software\LumoDictGen so that the next start fills them in. The key
// is the program's alone (LumoDict's settings file is never used for it). A missing key or
// a damaged value reads as empty: remembering is a convenience and never fails a run.

#include <string>

struct RememberedFacts {
  std::wstring author;
  std::wstring lumo;
  std::wstring version;
  std::wstring folder;

  bool operator==(const RememberedFacts&) const = default;
};

RememberedFacts LoadRememberedFacts();
// False when the key could not be written; the caller goes on all the same.
bool SaveRememberedFacts(const RememberedFacts& facts);

// The key under HKEY_CURRENT_USER that tests use instead of the user's; empty restores it.
void SetRememberedFactsKeyForTesting(const std::wstring& subkey);
const std::wstring& RememberedFactsKey();
