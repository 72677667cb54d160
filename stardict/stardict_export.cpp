#include "stardict/stardict_export.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#include "common/byte_order.h"
#include "common/utf.h"
#include "package/chunked_data.h"
#include "package/index_order.h"
#include "package/package_reader.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "stardict/dictzip.h"

namespace {

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

bool WriteAndClose(platform::CBinaryFile& file, const std::string& bytes) {
  const bool written = file.Write(bytes.data(), bytes.size());
  return file.Close() && written;
}

}  // namespace

StarDictExportResult ExportStarDict(CPackageReader& reader, const std::wstring& folder,
                                    const std::wstring& baseName) {
  const std::wstring stem = folder + platform::kPathSeparator + baseName;
  const size_t count = reader.EntryCount();

  // The package's index is already in this order when it is sound; sorting again keeps
  // the .idx right for any package that opens.
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&reader](size_t a, size_t b) {
    return CompareHeadwords(reader.Headword(a), reader.Headword(b)) < 0;
  });
  std::string idx;
  for (size_t i : order) {
    if (static_cast<uint64_t>(reader.EntryOffset(i)) + reader.EntrySize(i) > reader.DataLength()) {
      return StarDictExportResult::kPackageDamaged;
    }
    idx.append(reader.Headword(i));
    idx.push_back('\0');
    AppendBe32(&idx, reader.EntryOffset(i));
    AppendBe32(&idx, reader.EntrySize(i));
  }

  std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\n";
  ifo += "wordcount=" + std::to_string(count) + "\n";
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

  if ((reader.DataLength() + kChunkLength - 1) / kChunkLength > CDictzipWriter::kMaxChunks) {
    return StarDictExportResult::kTooLarge;
  }

  // The three files are written under names of their own and renamed into place only
  // when all three are complete, the .ifo (where a reader starts) last, so that a failure
  // leaves an earlier export as it was.
  const std::wstring_view finals[] = {L".dict.dz", L".idx", L".ifo"};
  const std::wstring_view partials[] = {L".dict.dz.part", L".idx.part", L".ifo.part"};
  platform::CBinaryFile files[3];
  std::vector<std::wstring> paths;
  if (!CreateExclusiveFiles(stem, partials, files, &paths)) return StarDictExportResult::kWriteFailed;
  CDictzipWriter dz;
  const auto abandon = [&](StarDictExportResult result, size_t from = 0) {
    dz.Finish();  // closes the .dict.dz, whatever state it is in
    for (size_t i = from; i < paths.size(); ++i) {
      files[i].Close();
      platform::RemoveFile(paths[i]);
    }
    return result;
  };
  if (!dz.Begin(std::move(files[0]), reader.DataLength())) return abandon(StarDictExportResult::kWriteFailed);
  std::string block;
  for (uint64_t pos = 0; pos < reader.DataLength(); pos += block.size()) {
    const uint64_t n = std::min<uint64_t>(kChunkLength, reader.DataLength() - pos);
    if (reader.ReadData(pos, n, &block) != PackageError::kNone)
      return abandon(StarDictExportResult::kPackageDamaged);
    if (!dz.Add(block.data(), block.size())) return abandon(StarDictExportResult::kWriteFailed);
  }
  if (!dz.Finish() || !WriteAndClose(files[1], idx) || !WriteAndClose(files[2], ifo))
    return abandon(StarDictExportResult::kWriteFailed);
  for (size_t i = 0; i < paths.size(); ++i) {
    // Renames in one folder fail only in exceptional cases; one that does after an
    // earlier one worked leaves that earlier file replaced, and says so by failing.
    if (!platform::ReplaceFile(paths[i], stem + std::wstring(finals[i])))
      return abandon(StarDictExportResult::kWriteFailed, i);
  }
  return StarDictExportResult::kDone;
}
