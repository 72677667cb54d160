#include "package/stardict_export.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/utf.h"
#include "core/entry_order.h"
#include "common/byte_order.h"
#include "package/chunk_deflater.h"
#include "package/crc32.h"
#include "package/dictzip.h"
#include "package/package_reader.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace {

void PutBe32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

// .ifo values are single lines.
std::string IfoValue(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return value;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  platform::CBinaryFile file;
  if (!file.Open(path, platform::CBinaryFile::Mode::kCreateWrite)) return false;
  const bool written = file.Write(bytes.data(), bytes.size());
  return file.Close() && written;
}

}  // namespace

struct CDictzipWriter::State {
  platform::CBinaryFile file;
  CChunkDeflater deflater;
  uint64_t total = 0;
  uint64_t received = 0;
  uint32_t chunkCount = 0;
  std::vector<uint16_t> sizes;
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  uLong crc = 0;
  bool ok = false;

  // The gzip header with the RA field: ID1 ID2 CM FLG(FEXTRA) MTIME(0) XFL(2: best) OS(3),
  // XLEN, then "RA", its length, version 1, chunk length, chunk count and the sizes.
  std::vector<unsigned char> Header() const {
    const uint32_t raLength = 6 + 2 * chunkCount;
    std::vector<unsigned char> h(12 + 4 + raLength, 0);
    h[0] = 0x1F;
    h[1] = 0x8B;
    h[2] = 8;
    h[3] = 0x04;
    h[8] = 2;
    h[9] = 3;
    PutLe16(&h[10], 4 + raLength);
    h[12] = 'R';
    h[13] = 'A';
    PutLe16(&h[14], raLength);
    PutLe16(&h[16], 1);
    PutLe16(&h[18], kChunkLength);
    PutLe16(&h[20], chunkCount);
    for (size_t i = 0; i < sizes.size(); ++i) PutLe16(&h[22 + 2 * i], sizes[i]);
    return h;
  }
};

CDictzipWriter::CDictzipWriter() : m_state(std::make_unique<State>()) {}

CDictzipWriter::~CDictzipWriter() = default;

bool CDictzipWriter::Begin(const std::wstring& path, uint64_t totalSize) {
  State& s = *m_state;
  s.ok = false;
  const uint64_t chunks = (totalSize + kChunkLength - 1) / kChunkLength;
  if (chunks > kMaxChunks) return false;
  s.total = totalSize;
  s.received = 0;
  s.chunkCount = static_cast<uint32_t>(chunks);
  s.sizes.clear();
  s.sizes.reserve(s.chunkCount);
  s.input.clear();
  s.input.reserve(kChunkLength);
  s.output.resize(kChunkOutputSize);
  s.crc = crc32(0L, Z_NULL, 0);
  if (!s.deflater.Init()) return false;
  if (!s.file.Open(path, platform::CBinaryFile::Mode::kCreateWrite)) return false;
  // A placeholder of the final header's size; the sizes are filled in by Finish.
  const std::vector<unsigned char> header = s.Header();
  s.ok = s.file.Write(header.data(), header.size());
  return s.ok;
}

bool CDictzipWriter::FlushChunk() {
  State& s = *m_state;
  uint32_t produced = 0;
  if (!s.deflater.CompressChunk(s.input.data(), static_cast<uint32_t>(s.input.size()),
                                s.output.data(), &produced) ||
      s.sizes.size() >= s.chunkCount)
    return false;
  s.sizes.push_back(static_cast<uint16_t>(produced));
  s.input.clear();
  return s.file.Write(s.output.data(), produced);
}

bool CDictzipWriter::Add(const void* data, size_t count) {
  State& s = *m_state;
  if (!s.ok || count > s.total - s.received) return s.ok = false;
  s.crc = Crc32(static_cast<uint32_t>(s.crc), data, count);
  s.received += count;
  const auto* p = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const size_t take = std::min<size_t>(count, kChunkLength - s.input.size());
    s.input.insert(s.input.end(), p, p + take);
    p += take;
    count -= take;
    if (s.input.size() == kChunkLength && !FlushChunk()) return s.ok = false;
  }
  return true;
}

bool CDictzipWriter::Finish() {
  State& s = *m_state;
  if (!s.ok || s.received != s.total) {
    s.file.Close();
    return s.ok = false;
  }
  bool ok = s.input.empty() || FlushChunk();
  // The empty final block stays outside every chunk, so that no chunk ends the stream
  // and each one inflates alone as readers expect.
  uint32_t finishing = 0;
  ok = ok && s.sizes.size() == s.chunkCount && s.deflater.Finish(s.output.data(), &finishing);
  ok = ok && s.file.Write(s.output.data(), finishing);
  unsigned char trailer[8];
  PutLe32(trailer, static_cast<uint32_t>(s.crc));
  PutLe32(trailer + 4, static_cast<uint32_t>(s.total));  // ISIZE is the size modulo 2^32
  ok = ok && s.file.Write(trailer, sizeof trailer);
  const std::vector<unsigned char> header = s.Header();
  ok = ok && s.file.Seek(0) && s.file.Write(header.data(), header.size());
  ok = s.file.Close() && ok;
  s.ok = false;
  return ok;
}

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
    PutBe32(&idx, reader.EntryOffset(i));
    PutBe32(&idx, reader.EntrySize(i));
  }

  CDictzipWriter dz;
  if ((reader.DataLength() + kChunkLength - 1) / kChunkLength > CDictzipWriter::kMaxChunks) {
    return StarDictExportResult::kTooLarge;
  }
  if (!dz.Begin(stem + L".dict.dz", reader.DataLength())) {
    return StarDictExportResult::kWriteFailed;
  }
  std::string block;
  for (uint64_t pos = 0; pos < reader.DataLength(); pos += block.size()) {
    const uint64_t n = std::min<uint64_t>(kChunkLength, reader.DataLength() - pos);
    if (reader.ReadData(pos, n, &block) != PackageError::kNone) {
      dz.Finish();
      platform::RemoveFile(stem + L".dict.dz");
      return StarDictExportResult::kPackageDamaged;
    }
    if (!dz.Add(block.data(), block.size())) return StarDictExportResult::kWriteFailed;
  }
  if (!dz.Finish()) return StarDictExportResult::kWriteFailed;

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

  if (!WriteWholeFile(stem + L".idx", idx) || !WriteWholeFile(stem + L".ifo", ifo)) {
    return StarDictExportResult::kWriteFailed;
  }
  return StarDictExportResult::kDone;
}
