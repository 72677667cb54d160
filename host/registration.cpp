#include "host/registration.h"

#include <algorithm>
#include <vector>

namespace {

constexpr wchar_t kSection[] = L"Dictionary";
constexpr wchar_t kCountKey[] = L"QueryDictNum";

std::wstring FileNameKey(int number) { return L"QueryFileName" + std::to_wstring(number); }
std::wstring CheckedKey(int number) { return L"QueryChecked" + std::to_wstring(number); }

RegisterOutcome Tell(IWarningSink& owner, RegisterOutcome outcome) {
  switch (outcome) {
    case RegisterOutcome::kRegistered:
      owner.ShowWarning(UserMessage::kRegistered, {});
      break;
    case RegisterOutcome::kDuplicate:
      owner.ShowWarning(UserMessage::kAlreadyRegistered, {});
      break;
    case RegisterOutcome::kWriteFailed:
      owner.ShowWarning(UserMessage::kRegisterWriteFailed, {});
      break;
  }
  return outcome;
}

}  // namespace

bool IsSameDictionary(const DictDescription& listed, const DictDescription& added) {
  if (listed.checksum != 0 && added.checksum != 0) return listed.checksum == added.checksum;
  // A network dictionary, or a host dictionary of unknown size, has no numbers at all:
  // they say nothing about identity, and an empty package must not be refused for them.
  const auto hasNoNumbers = [](const DictDescription& d) {
    return d.checksum == 0 && d.wordCount == 0 && d.indexSize == 0;
  };
  if (hasNoNumbers(listed)) return false;
  return listed.indexSize == added.indexSize && listed.wordCount == added.wordCount;
}

RegisterOutcome RegisterPackage(IWarningSink& owner, std::wstring packagePath,
                                platform::IProfileStore& profile) {
  // A damaged count must not keep the dialog busy for hours: no real list comes near this
  // many dictionaries, and keys that do not exist would only be dropped anyway.
  constexpr int kMaxListedEntries = 10000;
  const int count = std::min(profile.GetProfileInt(kSection, kCountKey, 0), kMaxListedEntries);

  // When the package cannot be described its numbers stay 0; it is registered anyway.
  DictDescription added;
  added.Init(packagePath);
  added.Describe(packagePath);

  std::vector<DictDescription> kept;
  for (int m = 0; m < count; ++m) {
    const std::wstring entryPath = profile.GetProfileString(kSection, FileNameKey(m), L"");
    // The same path (letter case counting) is the old registration of this very file.
    if (entryPath == packagePath) continue;
    const bool checked = profile.GetProfileInt(kSection, CheckedKey(m), 0) != 0;
    DictDescription listed;
    listed.Init(entryPath);
    // An entry that cannot be described is stale: dropped, and never taken for the new
    // package (else any stale entry would refuse a package whose numbers happen to be 0).
    if (!listed.Describe(entryPath)) continue;
    listed.checked = checked;
    if (IsSameDictionary(listed, added)) return Tell(owner, RegisterOutcome::kDuplicate);
    kept.push_back(std::move(listed));
  }

  // Check every path against the file's encoding before the first write, so that a path
  // the file cannot hold fails the registration without leaving half a list behind.
  bool storable = profile.CanStoreString(packagePath);
  for (const DictDescription& entry : kept) storable = storable && profile.CanStoreString(entry.path);
  if (!storable) return Tell(owner, RegisterOutcome::kWriteFailed);

  const int keptCount = static_cast<int>(kept.size());
  bool written = profile.WriteProfileInt(kSection, kCountKey, keptCount + 1);
  for (int i = 0; written && i < keptCount; ++i) {
    written = profile.WriteProfileString(kSection, FileNameKey(i), kept[i].path) &&
              profile.WriteProfileInt(kSection, CheckedKey(i), kept[i].checked ? 1 : 0);
  }
  written = written && profile.WriteProfileString(kSection, FileNameKey(keptCount), packagePath) &&
            profile.WriteProfileInt(kSection, CheckedKey(keptCount), 1);
  return Tell(owner, written ? RegisterOutcome::kRegistered : RegisterOutcome::kWriteFailed);
}
