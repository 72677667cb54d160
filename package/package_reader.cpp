#include "package/package_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "common/crc32.h"
#include "common/utf.h"
#include "package/chunked_data.h"
#include "package/index_order.h"

namespace {

// Reported problems of one kind beyond this many are only counted, so that a badly
// damaged package gives a readable report.
constexpr int kDetailsPerKind = 5;

std::string Quoted(std::string_view word) {
  std::string out = "\"";
  out.append(word.substr(0, 60));
  if (word.size() > 60) out += "...";
  out += '"';
  return out;
}

}  // namespace

const char* PackageErrorText(PackageError error) {
  switch (error) {
    case PackageError::kNone: return "no problem";
    case PackageError::kOpenFailed: return "cannot open the package";
    case PackageError::kReadFailed: return "cannot read the package";
    case PackageError::kTruncatedHeader: return "file too short for the 32-byte header";
    case PackageError::kBadFormatVersion: return "unknown format version";
    case PackageError::kBadCompressedFlag: return "invalid compressed flag";
    case PackageError::kMetadataEndMismatch: return "metadata end differs from the index offset";
    case PackageError::kMetadataBadLength: return "metadata block of impossible length";
    case PackageError::kMetadataMalformed: return "malformed metadata block";
    case PackageError::kIndexOutsideFile: return "index runs past the end of the file";
    case PackageError::kDataOffsetMismatch: return "data offset is not index offset + index size";
    case PackageError::kDataOutsideFile: return "data section runs past the end of the file (truncated file)";
    case PackageError::kTrailingBytes: return "bytes after the data section";
    case PackageError::kIndexUnterminated: return "index record without its terminating zero";
    case PackageError::kIndexRecordTruncated: return "index record cut off before its offset and size";
    case PackageError::kEntryCountMismatch: return "entry count differs from the index records";
    case PackageError::kEntryOutsideData: return "explanation lies outside the data";
    case PackageError::kIndexOrder: return "index records out of order";
    case PackageError::kIndexNotContiguous: return "explanation offsets not contiguous";
    case PackageError::kDataSizeMismatch: return "data size differs from the explanations' total";
    case PackageError::kChunkTableTruncated: return "data section too short for its chunk table and trailer";
    case PackageError::kBadChunkLength: return "unexpected chunk length";
    case PackageError::kChunkCountMismatch: return "chunk count does not fit the data size";
    case PackageError::kChunkTableMismatch: return "chunk sizes do not add up to the data section";
    case PackageError::kChunkCorrupt: return "chunk does not inflate alone to its share";
    case PackageError::kBadFinishingBytes: return "deflate stream not finished by 03 00";
    case PackageError::kDataCrcMismatch: return "CRC-32 of the data differs from the trailer";
    case PackageError::kChecksumMismatch: return "file checksum mismatch";
  }
  return "unknown problem";
}

std::string DescribeProblem(const PackageProblem& problem) {
  std::string text = PackageErrorText(problem.error);
  if (!problem.detail.empty()) text += ": " + problem.detail;
  return text;
}

CPackageReader::CPackageReader() = default;

CPackageReader::~CPackageReader() {
  if (m_inflater) {
    inflateEnd(m_inflater);
    delete m_inflater;
  }
}

bool CPackageReader::Fail(PackageError error, std::string detail) {
  m_problems.push_back({error, std::move(detail)});
  return false;
}

void CPackageReader::Note(PackageError error, std::string detail) {
  m_problems.push_back({error, std::move(detail)});
}

bool CPackageReader::ReadAt(uint64_t position, void* buffer, size_t count) {
  if (position > m_fileLength || count > m_fileLength - position) return false;
  if (!m_file.Seek(position)) return false;
  return m_file.Read(buffer, count) == static_cast<std::ptrdiff_t>(count);
}

bool CPackageReader::Open(const std::wstring& path) {
  m_problems.clear();
  m_structureRead = false;
  m_cachedChunk = UINT32_MAX;
  if (!m_file.Open(path, platform::CBinaryFile::Mode::kRead)) {
    return Fail(PackageError::kOpenFailed);
  }
  const int64_t length = m_file.Size();
  if (length < 0) return Fail(PackageError::kReadFailed);
  m_fileLength = static_cast<uint64_t>(length);
  if (!ReadHeader() || !ReadMetadata() || !ReadIndex()) return false;
  if (IsCompressed() && !ReadChunkTable()) return false;
  if (!IsCompressed()) m_dataLength = m_header.dataSize;

  for (size_t i = 0; i < m_records.size(); ++i) {
    const Record& r = m_records[i];
    if (static_cast<uint64_t>(r.offset) + r.size > m_dataLength) {
      Note(PackageError::kEntryOutsideData,
           "record " + std::to_string(i) + " " + Quoted(Headword(i)) + " ends at " +
               std::to_string(static_cast<uint64_t>(r.offset) + r.size) + ", the data holds " +
               std::to_string(m_dataLength) + " bytes");
      break;
    }
  }
  m_structureRead = true;
  return m_problems.empty();
}

bool CPackageReader::ReadHeader() {
  unsigned char h[kPackageHeaderSize];
  if (m_fileLength < kPackageHeaderSize) {
    return Fail(PackageError::kTruncatedHeader,
                "the file holds " + std::to_string(m_fileLength) + " bytes");
  }
  if (!ReadAt(0, h, sizeof h)) return Fail(PackageError::kReadFailed, "header");
  m_header = PackageHeader::DecodeFrom(h);

  const PackageHeader& hd = m_header;
  if (hd.formatVersion != kPackageFormatVersion) {
    Note(PackageError::kBadFormatVersion, std::to_string(hd.formatVersion));
  }
  if (hd.compressed > 1) {
    return Fail(PackageError::kBadCompressedFlag, std::to_string(hd.compressed));
  }
  if (hd.metadataEnd != hd.indexOffset) {
    Note(PackageError::kMetadataEndMismatch, std::to_string(hd.metadataEnd) + " and " +
                                                 std::to_string(hd.indexOffset));
  }
  // The block holds at least "N=" and whole UTF-16 units.
  if (hd.indexOffset < kPackageHeaderSize + 4 || (hd.indexOffset - kPackageHeaderSize) % 2 != 0) {
    return Fail(PackageError::kMetadataBadLength,
                "index offset " + std::to_string(hd.indexOffset));
  }
  const uint64_t indexEnd = static_cast<uint64_t>(hd.indexOffset) + hd.indexSize;
  if (indexEnd > m_fileLength) {
    return Fail(PackageError::kIndexOutsideFile, "index ends at " + std::to_string(indexEnd) +
                                                     ", the file holds " +
                                                     std::to_string(m_fileLength) + " bytes");
  }
  if (hd.dataOffset != indexEnd) {
    return Fail(PackageError::kDataOffsetMismatch, "data offset " + std::to_string(hd.dataOffset) +
                                                       ", index ends at " +
                                                       std::to_string(indexEnd));
  }
  const uint64_t dataEnd = static_cast<uint64_t>(hd.dataOffset) + hd.dataSize;
  if (dataEnd > m_fileLength) {
    return Fail(PackageError::kDataOutsideFile, "data ends at " + std::to_string(dataEnd) +
                                                    ", the file holds " +
                                                    std::to_string(m_fileLength) + " bytes");
  }
  if (dataEnd < m_fileLength) {
    Note(PackageError::kTrailingBytes, std::to_string(m_fileLength - dataEnd) + " bytes");
  }
  return true;
}

bool CPackageReader::ReadMetadata() {
  const uint32_t length = m_header.indexOffset - kPackageHeaderSize;  // checked: even, >= 4
  std::string bytes(length, '\0');
  if (!ReadAt(kPackageHeaderSize, bytes.data(), length)) {
    return Fail(PackageError::kReadFailed, "metadata");
  }
  m_metadataBlock = DecodeMetadataBytes(bytes);
  std::vector<MetadataItem> items;
  std::string problem;
  const bool wellFormed = DecodeMetadataItems(m_metadataBlock, MetadataRules::kStrict, &items, &problem);
  m_metadata.clear();
  for (const MetadataItem& item : items)
    m_metadata.emplace_back(Utf16ToUtf8(item.key), Utf16ToUtf8(item.value));
  if (!wellFormed) return Fail(PackageError::kMetadataMalformed, problem);
  return true;
}

bool CPackageReader::ReadIndex() {
  // indexSize is bounded by the file's length (ReadHeader), so is this allocation.
  m_index.assign(m_header.indexSize, '\0');
  if (!ReadAt(m_header.indexOffset, m_index.data(), m_index.size())) {
    return Fail(PackageError::kReadFailed, "index");
  }
  m_records.clear();
  m_records.reserve(std::min<size_t>(m_header.entryCount, m_index.size() / kIndexRecordOverhead));
  size_t pos = 0;
  while (pos < m_index.size()) {
    const size_t start = pos;
    IndexRecord record;
    switch (DecodeIndexRecord(m_index, &pos, &record)) {
      case IndexRecordFault::kUnterminated:
        return Fail(PackageError::kIndexUnterminated,
                    "record " + std::to_string(m_records.size()) + " at index byte " +
                        std::to_string(start));
      case IndexRecordFault::kTruncated:
        return Fail(PackageError::kIndexRecordTruncated,
                    "record " + std::to_string(m_records.size()) + " " +
                        Quoted(std::string_view(m_index).substr(start, m_index.find('\0', start) - start)));
      case IndexRecordFault::kNone:
        break;
    }
    m_records.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(record.word.size()),
                         record.offset, record.size});
  }
  if (m_records.size() != m_header.entryCount) {
    Note(PackageError::kEntryCountMismatch, "header says " + std::to_string(m_header.entryCount) +
                                                ", the index holds " +
                                                std::to_string(m_records.size()));
  }
  return true;
}

bool CPackageReader::ReadChunkTable() {
  const uint64_t start = m_header.dataOffset;
  const uint32_t size = m_header.dataSize;
  unsigned char head[kChunkTableHeadSize];
  if (size < kChunkTableHeadSize + kFinishingSize + kChunkTrailerSize) {
    return Fail(PackageError::kChunkTableTruncated,
                "data section of " + std::to_string(size) + " bytes");
  }
  if (!ReadAt(start, head, sizeof head)) return Fail(PackageError::kReadFailed, "chunk table");
  m_chunkLength = GetLe16(head);
  const uint32_t count = GetLe16(head + 2);
  const uint64_t tableEnd = kChunkTableHeadSize + uint64_t{kChunkTableSlotSize} * count;
  if (tableEnd + kFinishingSize + kChunkTrailerSize > size) {
    return Fail(PackageError::kChunkTableTruncated,
                std::to_string(count) + " chunks in a data section of " + std::to_string(size) +
                    " bytes");
  }
  if (m_chunkLength == 0) return Fail(PackageError::kBadChunkLength, "0");

  std::string table(kChunkTableSlotSize * count, '\0');
  if (!ReadAt(start + kChunkTableHeadSize, table.data(), table.size())) {
    return Fail(PackageError::kReadFailed, "chunk table");
  }
  m_chunkSizes.resize(count);
  m_chunkStarts.resize(count);
  uint64_t pos = start + tableEnd;
  for (uint32_t i = 0; i < count; ++i) {
    m_chunkSizes[i] = GetLe16(reinterpret_cast<const unsigned char*>(table.data()) + kChunkTableSlotSize * i);
    m_chunkStarts[i] = pos;
    pos += m_chunkSizes[i];
  }
  const uint64_t expectedSize = pos - start + kFinishingSize + kChunkTrailerSize;
  if (expectedSize != size) {
    return Fail(PackageError::kChunkTableMismatch,
                "table and chunks need " + std::to_string(expectedSize) +
                    " bytes, the data section holds " + std::to_string(size));
  }
  m_finishingPos = pos;
  unsigned char trailer[kChunkTrailerSize];
  if (!ReadAt(pos + kFinishingSize, trailer, sizeof trailer)) {
    return Fail(PackageError::kReadFailed, "trailer");
  }
  m_dataCrc = GetLe32(trailer);
  m_dataLength = GetLe32(trailer + 4);
  // The table states its own chunk length; a wrong one is reported by VerifyContents.
  const uint64_t needed = (m_dataLength + m_chunkLength - 1) / m_chunkLength;
  if (needed != count) {
    return Fail(PackageError::kChunkCountMismatch,
                std::to_string(count) + " chunks of " + std::to_string(m_chunkLength) +
                    " bytes for " + std::to_string(m_dataLength) + " bytes of data");
  }
  return true;
}

std::string CPackageReader::MetadataValue(std::string_view key) const {
  for (const auto& [k, v] : m_metadata) {
    if (k == key) return v;
  }
  return {};
}

std::string_view CPackageReader::Headword(size_t entry) const {
  const Record& r = m_records[entry];
  return std::string_view(m_index).substr(r.wordPos, r.wordLength);
}

PackageError CPackageReader::LoadChunk(uint32_t chunk, bool* endsStream) {
  if (chunk >= m_chunkSizes.size()) return PackageError::kEntryOutsideData;
  if (chunk == m_cachedChunk && !endsStream) return PackageError::kNone;
  m_cachedChunk = UINT32_MAX;
  const uint64_t chunkStart = static_cast<uint64_t>(chunk) * m_chunkLength;
  const size_t share = static_cast<size_t>(std::min<uint64_t>(m_chunkLength, m_dataLength - chunkStart));

  m_compressedChunk.resize(m_chunkSizes[chunk]);
  if (!ReadAt(m_chunkStarts[chunk], m_compressedChunk.data(), m_compressedChunk.size())) {
    return PackageError::kReadFailed;
  }
  if (!m_inflater) {
    m_inflater = new z_stream_s{};
    if (inflateInit2(m_inflater, -15) != Z_OK) {
      delete m_inflater;
      m_inflater = nullptr;
      return PackageError::kReadFailed;
    }
  } else if (inflateReset(m_inflater) != Z_OK) {
    return PackageError::kReadFailed;
  }
  // One byte more than the share, so that a chunk inflating to too much is caught.
  m_chunk.resize(share + 1);
  z_stream_s& z = *m_inflater;
  z.next_in = reinterpret_cast<Bytef*>(m_compressedChunk.data());
  z.avail_in = static_cast<uInt>(m_compressedChunk.size());
  z.next_out = reinterpret_cast<Bytef*>(m_chunk.data());
  z.avail_out = static_cast<uInt>(m_chunk.size());
  int rc = Z_OK;
  // Each call either consumes input, produces output or stops, so this ends.
  while (rc == Z_OK && z.avail_in > 0 && z.avail_out > 0) {
    const uInt inBefore = z.avail_in, outBefore = z.avail_out;
    rc = inflate(&z, Z_SYNC_FLUSH);
    if (z.avail_in == inBefore && z.avail_out == outBefore) break;
  }
  const bool ended = rc == Z_STREAM_END;
  if ((rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) || z.avail_in != 0 ||
      z.total_out != share) {
    return PackageError::kChunkCorrupt;
  }
  m_chunk.resize(share);
  if (endsStream) *endsStream = ended;
  m_cachedChunk = chunk;
  return PackageError::kNone;
}

PackageError CPackageReader::ReadData(uint64_t offset, uint64_t size, std::string* out) {
  out->clear();
  if (offset > m_dataLength || size > m_dataLength - offset) {
    return PackageError::kEntryOutsideData;
  }
  if (!IsCompressed()) {
    // Bounded by the data section, which lies inside the file.
    out->resize(static_cast<size_t>(size));
    return ReadAt(m_header.dataOffset + offset, out->data(), out->size())
               ? PackageError::kNone
               : PackageError::kReadFailed;
  }
  // Grown chunk by chunk rather than reserved: the size comes from the file.
  uint64_t pos = offset;
  const uint64_t end = offset + size;
  while (pos < end) {
    const uint32_t chunk = static_cast<uint32_t>(pos / m_chunkLength);
    const PackageError error = LoadChunk(chunk);
    if (error != PackageError::kNone) {
      out->clear();
      return error;
    }
    const uint64_t inChunk = pos - static_cast<uint64_t>(chunk) * m_chunkLength;
    const uint64_t take = std::min<uint64_t>(m_chunk.size() - inChunk, end - pos);
    out->append(m_chunk, static_cast<size_t>(inChunk), static_cast<size_t>(take));
    pos += take;
  }
  return PackageError::kNone;
}

PackageError CPackageReader::ReadExplanation(size_t entry, std::string* out) {
  if (entry >= m_records.size()) return PackageError::kEntryOutsideData;
  return ReadData(m_records[entry].offset, m_records[entry].size, out);
}

std::vector<size_t> CPackageReader::Lookup(std::string_view word) const {
  auto headword = [this](size_t i) { return Headword(i); };
  // Headwords equal without regard to case are neighbours in the index order, and the
  // byte-identical ones are neighbours among them.
  size_t lo = 0, hi = m_records.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareHeadwordsIgnoringCase(headword(mid), word) < 0) lo = mid + 1; else hi = mid;
  }
  const size_t first = lo;
  hi = m_records.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareHeadwordsIgnoringCase(headword(mid), word) <= 0) lo = mid + 1; else hi = mid;
  }
  const size_t last = lo;

  lo = first;
  hi = last;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareHeadwords(headword(mid), word) < 0) lo = mid + 1; else hi = mid;
  }
  const size_t exactFirst = lo;
  size_t exactLast = exactFirst;
  while (exactLast < last && headword(exactLast) == word) ++exactLast;

  std::vector<size_t> found;
  for (size_t i = exactFirst; i < exactLast; ++i) found.push_back(i);
  for (size_t i = first; i < last; ++i) {
    if (i < exactFirst || i >= exactLast) found.push_back(i);
  }
  return found;
}

bool CPackageReader::VerifyChecksum() {
  std::string block(1 << 20, '\0');
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t pos = 0;
  while (pos < m_fileLength) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), m_fileLength - pos));
    if (!ReadAt(pos, block.data(), n)) {
      Note(PackageError::kReadFailed, "at byte " + std::to_string(pos));
      return false;
    }
    // The checksum is computed with its own field set to zero.
    for (uint64_t i = std::max<uint64_t>(pos, kChecksumField);
         i < std::min<uint64_t>(pos + n, kChecksumField + 4); ++i) {
      block[i - pos] = '\0';
    }
    crc = Crc32(static_cast<uint32_t>(crc), block.data(), n);
    pos += n;
  }
  if (crc != m_header.checksum) {
    char text[64];
    std::snprintf(text, sizeof text, "stored 0x%08X, computed 0x%08X",
                  static_cast<unsigned>(m_header.checksum), static_cast<unsigned>(crc));
    Note(PackageError::kChecksumMismatch, text);
    return false;
  }
  return true;
}

bool CPackageReader::VerifyContents() {
  const size_t before = m_problems.size();
  VerifyChecksum();

  int misordered = 0;
  for (size_t i = 1; i < m_records.size(); ++i) {
    if (CompareHeadwords(Headword(i - 1), Headword(i)) > 0 && ++misordered <= kDetailsPerKind) {
      Note(PackageError::kIndexOrder, "record " + std::to_string(i) + " " + Quoted(Headword(i)) +
                                          " after " + Quoted(Headword(i - 1)));
    }
  }
  if (misordered > kDetailsPerKind) {
    Note(PackageError::kIndexOrder, std::to_string(misordered) + " records in all");
  }

  uint64_t expected = 0;
  int gaps = 0;
  for (size_t i = 0; i < m_records.size(); ++i) {
    if (m_records[i].offset != expected && ++gaps <= kDetailsPerKind) {
      Note(PackageError::kIndexNotContiguous,
           "record " + std::to_string(i) + " " + Quoted(Headword(i)) + " at offset " +
               std::to_string(m_records[i].offset) + ", expected " + std::to_string(expected));
    }
    expected = static_cast<uint64_t>(m_records[i].offset) + m_records[i].size;
  }
  if (gaps > kDetailsPerKind) {
    Note(PackageError::kIndexNotContiguous, std::to_string(gaps) + " records in all");
  }
  if (expected != m_dataLength) {
    Note(PackageError::kDataSizeMismatch, "the explanations end at " + std::to_string(expected) +
                                                ", the data holds " +
                                                std::to_string(m_dataLength) + " bytes");
  }

  if (IsCompressed()) {
    if (m_chunkLength != kChunkLength) {
      Note(PackageError::kBadChunkLength, std::to_string(m_chunkLength) + ", the layout uses " +
                                              std::to_string(kChunkLength));
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    int corrupt = 0;
    bool crcUsable = true;
    for (uint32_t c = 0; c < ChunkCount(); ++c) {
      bool ends = false;
      const PackageError error = LoadChunk(c, &ends);
      if (error != PackageError::kNone || ends) {
        crcUsable = false;
        if (++corrupt <= kDetailsPerKind) {
          Note(PackageError::kChunkCorrupt,
               "chunk " + std::to_string(c + 1) + " of " + std::to_string(ChunkCount()) +
                   (error == PackageError::kNone ? " ends the deflate stream" : ""));
        }
        continue;
      }
      crc = Crc32(static_cast<uint32_t>(crc), m_chunk.data(), m_chunk.size());
    }
    if (corrupt > kDetailsPerKind) {
      Note(PackageError::kChunkCorrupt, std::to_string(corrupt) + " chunks in all");
    }
    unsigned char finishing[kFinishingSize];
    if (!ReadAt(m_finishingPos, finishing, sizeof finishing)) {
      Note(PackageError::kReadFailed, "finishing bytes");
    } else if (std::memcmp(finishing, kFinishingBytes, sizeof finishing) != 0) {
      Note(PackageError::kBadFinishingBytes);
    }
    if (crcUsable && crc != m_dataCrc) {
      char text[64];
      std::snprintf(text, sizeof text, "stored 0x%08X, computed 0x%08X",
                    static_cast<unsigned>(m_dataCrc), static_cast<unsigned>(crc));
      Note(PackageError::kDataCrcMismatch, text);
    }
  }
  return m_problems.size() == before;
}

std::vector<PackageProblem> VerifyPackage(const std::wstring& path) {
  CPackageReader reader;
  // Problems that leave the structure readable (a wrong count, trailing bytes) do not
  // stop the deeper checks.
  if (reader.Open(path) || reader.StructureRead()) {
    reader.VerifyContents();
  }
  return reader.Problems();
}
