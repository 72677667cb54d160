#include "stardict/stardict_export.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/crc32.h"
#include "common/utf.h"
#include "package/chunked_data.h"
#include "package/index_order.h"
#include "package/package_reader.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "stardict/dictzip.h"

namespace {

constexpr wchar_t kWorkSuffix[] = L".lumo-new";
// Names beyond this many are not tried: so many folders in use means something is wrong.
constexpr int kMaxWorkFolders = 100;

void AppendBe32(std::string* out, uint32_t v) {
  unsigned char bytes[4];
  PutBe32(bytes, v);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// .ifo values are single lines.
std::string IfoValue(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return value;
}

// The names of one dictionary's files, and of the new .ifo and the old one while they are
// in a work folder.
struct ExportNames {
  explicit ExportNames(const std::wstring& base)
      : dz(base + L".dict.dz"), idx(base + L".idx"), ifo(base + L".ifo"),
        ifoPart(ifo + L".part"), ifoOld(ifo + L".old") {}
  // The .ifo first, so that a folder found half removed holds no dictionary.
  std::vector<std::wstring> Ours() const { return {ifo, ifoOld, ifoPart, idx, dz}; }
  bool IsOurs(const std::wstring& name) const {
    const std::vector<std::wstring> ours = Ours();
    return std::find(ours.begin(), ours.end(), name) != ours.end();
  }
  bool IsDictionary(const std::wstring& name) const { return name == dz || name == idx || name == ifo; }

  std::wstring dz, idx, ifo, ifoPart, ifoOld;
};

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return folder + platform::kPathSeparator + name;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == platform::kPathSeparator; }

// The folder without separators at its end (a root keeps its own), its parent and its
// own name; the name is empty for a root.
struct FolderParts {
  std::wstring folder, parent, leaf;
};

FolderParts SplitFolder(std::wstring folder) {
  const auto isRoot = [](const std::wstring& p) {
    return p.size() == 1 || (p.size() == 3 && p[1] == L':');
  };
  while (folder.size() > 1 && IsSeparator(folder.back()) && !isRoot(folder)) folder.pop_back();
  FolderParts parts{folder, {}, {}};
  if (folder.empty() || isRoot(folder)) return parts;
  size_t at = folder.size();
  while (at > 0 && !IsSeparator(folder[at - 1])) --at;
  parts.leaf = folder.substr(at);
  if (at == 0) {
    parts.parent = L".";
  } else {
    parts.parent = folder.substr(0, at);
    if (!isRoot(parts.parent)) parts.parent.pop_back();
  }
  return parts;
}

// stem, or stem-N.
bool IsWorkName(const std::wstring& name, const std::wstring& stem) {
  if (name == stem) return true;
  if (name.size() <= stem.size() + 1 || name.compare(0, stem.size(), stem) != 0 ||
      name[stem.size()] != L'-')
    return false;
  return name.find_first_not_of(L"0123456789", stem.size() + 1) == std::wstring::npos;
}

// Removes a work folder with what of ours it holds; false when anything stays.
bool RemoveWorkFolder(const std::wstring& work, const ExportNames& names) {
  bool removed = true;
  for (const std::wstring& name : names.Ours()) {
    const Status gone = platform::RemoveFile(Join(work, name));
    if (!gone.ok() && gone.Kind() != StatusKind::kNotFound) removed = false;
  }
  return platform::RemoveFolder(work).ok() && removed;
}

// The work folders of this dictionary in parent (stem, stem-2, ...) that an export left
// when it was killed: one that nobody holds and that holds nothing but our files is
// removed. Any other is left alone; it may be in use, or not ours after all.
void RemoveLeftovers(const std::wstring& parent, const std::wstring& stem, const ExportNames& names) {
  std::vector<std::wstring> entries;
  if (!platform::ListFolder(parent, &entries)) return;
  for (const std::wstring& entry : entries) {
    if (!IsWorkName(entry, stem)) continue;
    const std::wstring work = Join(parent, entry);
    bool isLink = false;
    if (platform::QueryFileKind(work, &isLink) != platform::FileKind::kFolder || isLink) continue;
    platform::CFolderLock claim;
    if (!claim.TryLock(work)) continue;
    std::vector<std::wstring> inside;
    if (!platform::ListFolder(work, &inside)) continue;
    if (std::all_of(inside.begin(), inside.end(), [&](const std::wstring& n) { return names.IsOurs(n); }))
      RemoveWorkFolder(work, names);
  }
}

// A new folder under the first free name of stem, stem-2, ..., claimed at once: a run
// cleaning up that comes in between finds it empty, and removing it only makes our first
// file fail to be created.
Status CreateWorkFolder(const std::wstring& stem, std::wstring* work, platform::CFolderLock* claim) {
  Status created;
  for (int n = 1; n <= kMaxWorkFolders; ++n) {
    *work = n == 1 ? stem : stem + L"-" + std::to_wstring(n);
    created = platform::CreateFolder(*work);
    if (created.Kind() == StatusKind::kAlreadyExists) continue;
    if (!created) return created;
    if (Status claimed = claim->TryLock(*work); !claimed) {
      platform::RemoveFolder(*work);
      return claimed;
    }
    return Status();
  }
  return created;
}

Status WriteNewFile(const std::wstring& path, const std::string& bytes) {
  platform::CBinaryFile file;
  if (Status opened = file.Open(path, platform::CBinaryFile::Mode::kCreateNew); !opened) return opened;
  file.Write(bytes.data(), bytes.size());
  return file.Close();
}

// Where the new files go, see the header.
enum class Placement { kNewFolder, kExchange, kFileByFile };

}  // namespace

StarDictExportOutcome ExportStarDict(CPackageReader& reader, const std::wstring& folderPath,
                                     const std::wstring& baseName,
                                     const StarDictExportOptions& options) {
  StarDictExportOutcome outcome;
  const auto fail = [&outcome](StarDictExportResult result, const Status& cause = {}) {
    outcome.result = result;
    outcome.cause = cause;
    outcome.leftOut.clear();
    return outcome;
  };
  const auto stopped = [&options] { return options.stopRequested && options.stopRequested(); };
  if ((reader.DataLength() + kChunkLength - 1) / kChunkLength > CDictzipWriter::kMaxChunks)
    return fail(StarDictExportResult::kTooLarge);

  const ExportNames names(baseName);
  const FolderParts parts = SplitFolder(folderPath);
  const std::wstring& folder = parts.folder;
  bool isLink = false;
  const platform::FileKind kind = platform::QueryFileKind(folder, &isLink);
  if (kind == platform::FileKind::kRegular || kind == platform::FileKind::kStream)
    return fail(StarDictExportResult::kWriteFailed,
                Status::Error(StatusKind::kInvalidArgument, folder, 0, "not a folder"));
  const bool exists = kind == platform::FileKind::kFolder;
  if (!parts.leaf.empty()) RemoveLeftovers(parts.parent, parts.leaf + kWorkSuffix, names);
  if (exists) RemoveLeftovers(folder, baseName + kWorkSuffix, names);

  Placement placement = Placement::kNewFolder;
  if (exists) {
    std::vector<std::wstring> held;
    const bool onlyOurs =
        !isLink && platform::ListFolder(folder, &held).ok() &&
        std::all_of(held.begin(), held.end(), [&](const std::wstring& n) { return names.IsDictionary(n); });
    placement = onlyOurs && !parts.leaf.empty() ? Placement::kExchange : Placement::kFileByFile;
  }
  std::wstring work;
  platform::CFolderLock claim;
  const std::wstring inside = Join(folder, baseName + kWorkSuffix);
  Status created = CreateWorkFolder(
      placement == Placement::kFileByFile ? inside : Join(parts.parent, parts.leaf + kWorkSuffix),
      &work, &claim);
  // No room beside the folder (its parent may not be ours to write): inside it, then.
  if (!created && placement == Placement::kExchange) {
    placement = Placement::kFileByFile;
    created = CreateWorkFolder(inside, &work, &claim);
  }
  if (!created) return fail(StarDictExportResult::kWriteFailed, created.WithPath(folder));
  const auto inWork = [&work](const std::wstring& name) { return Join(work, name); };
  const auto inFolder = [&folder](const std::wstring& name) { return Join(folder, name); };
  const auto abandon = [&](StarDictExportResult result, const Status& cause = {}) {
    RemoveWorkFolder(work, names);
    claim.Unlock();
    return fail(result, cause);
  };

  // The data first: which entries it can serve is known once it has been read.
  CDictzipWriter dz;
  platform::CBinaryFile dzFile;
  if (Status opened = dzFile.Open(inWork(names.dz), platform::CBinaryFile::Mode::kCreateNew); !opened)
    return abandon(StarDictExportResult::kWriteFailed, opened);
  const auto dzFailed = [&](StarDictExportResult result) {
    dz.Finish();  // closes the .dict.dz, whatever state it is in
    return abandon(result, dz.FileError());
  };
  if (!dz.Begin(std::move(dzFile), reader.DataLength())) return dzFailed(StarDictExportResult::kWriteFailed);
  std::vector<std::pair<uint64_t, uint64_t>> unreadable;  // [from, to) of the data
  std::string block;
  uint32_t crc = 0;
  for (uint64_t pos = 0; pos < reader.DataLength(); pos += block.size()) {
    if (stopped()) return dzFailed(StarDictExportResult::kStopped);
    const uint64_t n = std::min<uint64_t>(kChunkLength, reader.DataLength() - pos);
    if (reader.ReadData(pos, n, &block) != PackageError::kNone) {
      if (!options.force) return dzFailed(StarDictExportResult::kPackageDamaged);
      unreadable.emplace_back(pos, pos + n);
      block.assign(static_cast<size_t>(n), '\0');
    }
    crc = Crc32(crc, block.data(), block.size());
    if (!dz.Add(block.data(), block.size())) return dzFailed(StarDictExportResult::kWriteFailed);
  }
  if (!dz.Finish()) return abandon(StarDictExportResult::kWriteFailed, dz.FileError());
  // The file's checksum may match a package made to deceive: the data's own checksum is
  // the last word on what the .dict.dz now holds.
  if (reader.IsCompressed() && unreadable.empty() && crc != reader.DataCrc() && !options.force)
    return abandon(StarDictExportResult::kPackageDamaged);

  // The package's index is already in this order when it is sound; sorting again keeps
  // the .idx right for any package that opens.
  const size_t count = reader.EntryCount();
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&reader](size_t a, size_t b) {
    return CompareHeadwords(reader.Headword(a), reader.Headword(b)) < 0;
  });
  const auto readable = [&](size_t i) {
    const uint64_t from = reader.EntryOffset(i), to = from + reader.EntrySize(i);
    if (to > reader.DataLength()) return false;
    return std::none_of(unreadable.begin(), unreadable.end(), [&](const auto& range) {
      return from < range.second && range.first < to;
    });
  };
  std::string idx;
  size_t written = 0;
  for (size_t i : order) {
    if (!readable(i)) {
      if (!options.force) return abandon(StarDictExportResult::kPackageDamaged);
      continue;
    }
    idx.append(reader.Headword(i));
    idx.push_back('\0');
    AppendBe32(&idx, reader.EntryOffset(i));
    AppendBe32(&idx, reader.EntrySize(i));
    ++written;
  }
  for (size_t i = 0; i < count; ++i)
    if (!readable(i)) outcome.leftOut.push_back(i);

  std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\n";
  ifo += "wordcount=" + std::to_string(written) + "\n";
  ifo += "idxfilesize=" + std::to_string(idx.size()) + "\n";
  std::string name = reader.MetadataValue("N");
  if (name.empty()) name = WideToUtf8(baseName);
  ifo += "bookname=" + IfoValue(name) + "\n";
  if (const std::string author = reader.MetadataValue("A"); !author.empty()) {
    ifo += "author=" + IfoValue(author) + "\n";
  }
  if (const std::string date = reader.MetadataValue("DP"); !date.empty()) {
    ifo += "date=" + IfoValue(date) + "\n";
  }
  std::string description;
  if (const std::string version = reader.MetadataValue("V"); !version.empty()) {
    description = "Version " + version;
  }
  if (const std::string lumo = reader.MetadataValue("Lumo"); !lumo.empty()) {
    description += (description.empty() ? "" : "; ") + ("Lumo " + lumo);
  }
  if (!description.empty()) ifo += "description=" + IfoValue(description) + "\n";
  ifo += "sametypesequence=m\n";

  // The new .ifo is NAME.ifo.part until it goes in: a reader that looks into the work
  // folder finds no dictionary there.
  if (Status s = WriteNewFile(inWork(names.idx), idx); !s) return abandon(StarDictExportResult::kWriteFailed, s);
  if (Status s = WriteNewFile(inWork(names.ifoPart), ifo); !s)
    return abandon(StarDictExportResult::kWriteFailed, s);
  // Past this point the export is finished whatever comes: the renames take moments.
  if (stopped()) return abandon(StarDictExportResult::kStopped);

  std::wstring newIfo = inWork(names.ifoPart);
  if (placement != Placement::kFileByFile) {
    if (Status s = platform::MoveToFreeName(newIfo, inWork(names.ifo)); !s)
      return abandon(StarDictExportResult::kWriteFailed, s);
    newIfo = inWork(names.ifo);
  }
  if (placement == Placement::kNewFolder) {
    if (Status s = platform::MoveToFreeName(work, folder); !s)
      return abandon(StarDictExportResult::kWriteFailed, s);
    return outcome;
  }
  if (placement == Placement::kExchange) {
    const Status exchanged = platform::ExchangeFolders(work, folder);
    if (exchanged) {
      // The work folder holds the old export now. What cannot be removed of it is a
      // leftover like any other, for the next export.
      claim.Unlock();
      RemoveWorkFolder(work, names);
      return outcome;
    }
    if (exchanged.Kind() != StatusKind::kInvalidArgument)
      return abandon(StarDictExportResult::kWriteFailed, exchanged);
  }

  // File by file: the old .ifo out of sight first, the new one last.
  bool hidden = false;
  if (platform::QueryFileKind(inFolder(names.ifo)) != platform::FileKind::kMissing) {
    if (Status s = platform::MoveToFreeName(inFolder(names.ifo), inWork(names.ifoOld)); !s)
      return abandon(StarDictExportResult::kWriteFailed, s.WithPath(inFolder(names.ifo)));
    hidden = true;
  }
  if (Status s = platform::ReplaceFile(inWork(names.dz), inFolder(names.dz)); !s) {
    // Nothing has been replaced: the old dictionary comes back. Should even that fail, its
    // .ifo stays in the work folder, for the user to see and the next export to remove.
    if (hidden && !platform::MoveToFreeName(inWork(names.ifoOld), inFolder(names.ifo))) {
      claim.Unlock();
      return fail(StarDictExportResult::kWriteFailed, s);
    }
    return abandon(StarDictExportResult::kWriteFailed, s);
  }
  if (Status s = platform::ReplaceFile(inWork(names.idx), inFolder(names.idx)); !s)
    return abandon(StarDictExportResult::kWriteFailed, s);
  if (Status s = platform::ReplaceFile(newIfo, inFolder(names.ifo)); !s)
    return abandon(StarDictExportResult::kWriteFailed, s);
  RemoveWorkFolder(work, names);
  claim.Unlock();
  return outcome;
}
