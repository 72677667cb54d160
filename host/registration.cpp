#include "host/registration.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <limits>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/ini_document.h"

namespace {

// Another program that writes the settings file while we edit it makes us read it again
// and redo the edit, this many times in all.
constexpr int kEditAttempts = 5;

constexpr wchar_t kSection[] = L"Dictionary";
constexpr wchar_t kCountKey[] = L"QueryDictNum";
constexpr std::wstring_view kFileNameKey = L"QueryFileName";

std::wstring FileNameKey(int number) {
  return std::wstring(kFileNameKey) + std::to_wstring(number);
}
std::wstring CheckedKey(int number) { return L"QueryChecked" + std::to_wstring(number); }

RegisterOutcome Tell(IWarningSink& owner, RegisterOutcome outcome, const Status& cause = {}) {
  switch (outcome) {
    case RegisterOutcome::kRegistered:
      owner.ShowWarning(UserMessage::kRegistered, {});
      break;
    case RegisterOutcome::kDuplicate:
      owner.ShowWarning(UserMessage::kAlreadyRegistered, {});
      break;
    case RegisterOutcome::kWriteFailed:
      owner.ShowWarning(cause.DiskFull() ? UserMessage::kRegisterDiskFull
                                         : UserMessage::kRegisterWriteFailed,
                        cause);
      break;
  }
  return outcome;
}

// The numbers of the listed entries: those of the "QueryFileName" keys present, in order.
// An entry without that key has an empty path, which describes nothing and is dropped; so
// however large "QueryDictNum" claims the list to be, only the keys there cost anything,
// and an entry missing in the middle drops no entry after it. A count of 1 or more bounds
// the list, as it bounds LumoDict's; keys above it are left-overs. A count that is
// missing, no number, 0 or negative bounds nothing: it is damaged, and every entry
// present is listed, rather than the new package being written over the first.
// A number spelled otherwise than a lookup spells it ("QueryFileName07") is none.
std::vector<int> ListedNumbers(const platform::CIniDocument& settings, int count) {
  const int64_t bound = count > 0 ? count : int64_t{std::numeric_limits<int>::max()} + 1;
  std::vector<int> numbers;
  for (const std::wstring& name : settings.KeyNames(kSection)) {
    if (name.size() <= kFileNameKey.size() || name.size() > kFileNameKey.size() + 10) continue;
    bool matches = true;
    for (size_t i = 0; i < kFileNameKey.size() && matches; ++i)
      matches = std::towlower(static_cast<wint_t>(name[i])) ==
                std::towlower(static_cast<wint_t>(kFileNameKey[i]));
    int64_t number = 0;
    for (size_t i = kFileNameKey.size(); i < name.size() && matches; ++i) {
      matches = name[i] >= L'0' && name[i] <= L'9';
      number = number * 10 + (name[i] - L'0');
    }
    if (matches && number < bound && name.substr(kFileNameKey.size()) == std::to_wstring(number))
      numbers.push_back(static_cast<int>(number));
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

struct Result {
  RegisterOutcome outcome;
  Status cause;
};

Result RegisterInto(const std::wstring& packagePath, platform::CIniDocument& settings) {
  const int count = settings.GetProfileInt(kSection, kCountKey, 0);

  // When the package cannot be described its numbers stay 0; it is registered anyway.
  DictDescription added;
  added.Init(packagePath);
  added.Describe(packagePath);

  std::vector<DictDescription> kept;
  for (const int m : ListedNumbers(settings, count)) {
    const std::wstring entryPath = settings.GetProfileString(kSection, FileNameKey(m), L"");
    // The same path (letter case counting) is the old registration of this very file.
    if (entryPath == packagePath) continue;
    const bool checked = settings.GetProfileInt(kSection, CheckedKey(m), 0) != 0;
    DictDescription listed;
    listed.Init(entryPath);
    // An entry that cannot be described is stale: dropped, and never taken for the new
    // package (else any stale entry would refuse a package whose numbers happen to be 0).
    if (!listed.Describe(entryPath)) continue;
    listed.checked = checked;
    if (IsSameDictionary(listed, added)) return {RegisterOutcome::kDuplicate, {}};
    kept.push_back(std::move(listed));
  }

  // A path the file's encoding cannot hold fails the registration before any edit.
  bool storable = settings.CanStoreString(packagePath);
  for (const DictDescription& entry : kept)
    storable = storable && settings.CanStoreString(entry.path);
  if (!storable) return {RegisterOutcome::kWriteFailed, {}};

  const int keptCount = static_cast<int>(kept.size());
  bool edited = settings.SetProfileInt(kSection, kCountKey, keptCount + 1);
  for (int i = 0; edited && i < keptCount; ++i) {
    edited = settings.SetProfileString(kSection, FileNameKey(i), kept[i].path) &&
             settings.SetProfileInt(kSection, CheckedKey(i), kept[i].checked ? 1 : 0);
  }
  edited = edited && settings.SetProfileString(kSection, FileNameKey(keptCount), packagePath) &&
           settings.SetProfileInt(kSection, CheckedKey(keptCount), 1);
  if (!edited) return {RegisterOutcome::kWriteFailed, {}};
  const Status committed = settings.Commit();
  return {committed ? RegisterOutcome::kRegistered : RegisterOutcome::kWriteFailed, committed};
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
                                const std::wstring& settingsPath) {
  Result result{RegisterOutcome::kWriteFailed, {}};
  {
    platform::CFileLock lock;
    result.cause = lock.Lock(settingsPath);
    // Our lock holds back registrations, not LumoDict: when it writes the file meanwhile,
    // the edit is made again on what it wrote.
    for (int attempt = 1; result.cause; ++attempt) {
      platform::CIniDocument settings;
      result.cause = settings.Load(settingsPath);
      if (result.cause) result = RegisterInto(packagePath, settings);
      if (result.cause.Kind() != StatusKind::kChanged || attempt == kEditAttempts) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt));
      result.cause = Status();
    }
    if (result.cause.Kind() == StatusKind::kChanged)
      result = {RegisterOutcome::kWriteFailed,
                Status::Error(StatusKind::kIoError, settingsPath, 0,
                              "another program kept writing the file while it was being edited")};
  }
  // Told once the lock is let go: the dialog's message box waits for the user, and other
  // registrations must not wait with it.
  return Tell(owner, result.outcome, result.cause);
}
