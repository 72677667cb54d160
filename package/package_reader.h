#pragma once
// Reading a package (.ldic) back: its header, metadata, index and explanations, and a
// complete check of everything the writer promises (layout in format.h).
//
// The reader trusts nothing in the file. Every size and offset is checked against the
// file's length before it is used, nothing is allocated from a size field that the file
// cannot back, and a chunk is inflated into a buffer of exactly its share, so a damaged
// or hostile package gives an error, never a crash, a hang or an out-of-bounds read.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "package/format.h"
#include "platform/file.h"

struct z_stream_s;

// One kind of damage; each has its own text (PackageErrorText).
enum class PackageError {
  kNone,
  kOpenFailed,
  kReadFailed,
  kTruncatedHeader,      // shorter than the 32-byte header
  kBadFormatVersion,
  kBadCompressedFlag,
  kMetadataEndMismatch,  // metadataEnd differs from indexOffset
  kMetadataBadLength,    // the metadata block is empty, odd or starts inside the header
  kMetadataMalformed,    // an item without "=", or no name first
  kIndexOutsideFile,
  kDataOffsetMismatch,   // dataOffset is not indexOffset + indexSize
  kDataOutsideFile,      // the data section runs past the end of the file
  kTrailingBytes,        // bytes after the data section
  kIndexUnterminated,    // a headword without its terminating zero
  kIndexRecordTruncated, // a record cut off before its offset and size
  kEntryCountMismatch,
  kEntryOutsideData,     // an explanation beyond the end of the uncompressed data
  kIndexOrder,
  kIndexNotContiguous,
  kDataSizeMismatch,     // the explanations do not end where the data does
  kChunkTableTruncated,  // the data section cannot hold its table and trailer
  kBadChunkLength,
  kChunkCountMismatch,   // the chunk count does not fit the stored data size
  kChunkTableMismatch,   // the chunk sizes do not add up to the data section
  kChunkCorrupt,         // a chunk does not inflate alone to exactly its share
  kBadFinishingBytes,
  kDataCrcMismatch,      // the trailer's CRC-32 differs from the inflated data's
  kChecksumMismatch,     // the header's CRC-32 of the whole file is wrong
};

// A short English description, for ldic.
const char* PackageErrorText(PackageError error);

struct PackageProblem {
  PackageError error = PackageError::kNone;
  std::string detail;  // where it was found; may be empty
};

// "text: detail" or just the text.
std::string DescribeProblem(const PackageProblem& problem);

class CPackageReader {
 public:
  CPackageReader();
  ~CPackageReader();
  CPackageReader(const CPackageReader&) = delete;
  CPackageReader& operator=(const CPackageReader&) = delete;

  // Reads the header, metadata, index and chunk table and checks their structure; false
  // with Problems() describing why. Explanations are inflated only when asked for.
  bool Open(const std::wstring& path);
  const std::vector<PackageProblem>& Problems() const { return m_problems; }
  // True when Open got through every section, even if it noted problems on the way.
  bool StructureRead() const { return m_structureRead; }

  const PackageHeader& Header() const { return m_header; }
  uint64_t FileLength() const { return m_fileLength; }
  // Length of the uncompressed data (the trailer's size for a compressed package).
  uint64_t DataLength() const { return m_dataLength; }
  bool IsCompressed() const { return m_header.compressed != 0; }
  uint32_t ChunkLength() const { return m_chunkLength; }
  uint32_t ChunkCount() const { return static_cast<uint32_t>(m_chunkSizes.size()); }
  uint32_t DataCrc() const { return m_dataCrc; }

  // The metadata items in their order, as UTF-8 (key without its "=").
  const std::vector<std::pair<std::string, std::string>>& Metadata() const { return m_metadata; }
  // The value of the first item with this key; empty when there is none.
  std::string MetadataValue(std::string_view key) const;
  // The block as stored, for writing the same metadata again.
  const std::u16string& MetadataBlock() const { return m_metadataBlock; }

  size_t EntryCount() const { return m_records.size(); }
  std::string_view Headword(size_t entry) const;
  uint32_t EntryOffset(size_t entry) const { return m_records[entry].offset; }
  uint32_t EntrySize(size_t entry) const { return m_records[entry].size; }

  // The explanation of an entry, inflating only the chunks that hold it.
  PackageError ReadExplanation(size_t entry, std::string* out);
  // size bytes of uncompressed data from offset (which must lie within DataLength()).
  PackageError ReadData(uint64_t offset, uint64_t size, std::string* out);

  // The entries whose headword is word: byte-identical ones first, then the ones equal
  // without regard to ASCII letter case, each group in index order. Binary search.
  std::vector<size_t> Lookup(std::string_view word) const;

  // The file's CRC-32 against the header's, reading the whole file once: a package
  // damaged anywhere, even where the other checks look no further than its structure,
  // fails it. Appends the mismatch (or a failed read) to Problems(); true when it
  // matches. Call after Open has read the header.
  bool VerifyChecksum();

  // The checks that need the whole file: the file's CRC-32, the index order and
  // contiguity, every chunk inflating alone, the finishing bytes and the trailer's CRC.
  // Appends what it finds to Problems(); true when nothing was found. Call after a
  // successful Open.
  bool VerifyContents();

 private:
  struct Record {
    uint32_t wordPos;
    uint32_t wordLength;
    uint32_t offset;
    uint32_t size;
  };

  bool Fail(PackageError error, std::string detail = {});
  void Note(PackageError error, std::string detail = {});
  bool ReadAt(uint64_t position, void* buffer, size_t count);
  bool ReadHeader();
  bool ReadMetadata();
  bool ReadIndex();
  bool ReadChunkTable();
  // Makes chunk the cached one; *endsStream tells whether it carried the final block.
  PackageError LoadChunk(uint32_t chunk, bool* endsStream = nullptr);

  platform::CBinaryFile m_file;
  uint64_t m_fileLength = 0;
  PackageHeader m_header;
  std::vector<PackageProblem> m_problems;
  bool m_structureRead = false;

  std::u16string m_metadataBlock;
  std::vector<std::pair<std::string, std::string>> m_metadata;

  std::string m_index;  // the index section as stored
  std::vector<Record> m_records;

  uint64_t m_dataLength = 0;
  uint32_t m_chunkLength = 0;
  std::vector<uint16_t> m_chunkSizes;
  std::vector<uint64_t> m_chunkStarts;  // file position of each chunk
  uint64_t m_finishingPos = 0;          // file position of the finishing bytes
  uint32_t m_dataCrc = 0;

  z_stream_s* m_inflater = nullptr;
  std::string m_compressedChunk;
  std::string m_chunk;  // the last inflated chunk
  uint32_t m_cachedChunk = UINT32_MAX;
};

// Opens and checks a package completely; the problems found, none for a sound package.
std::vector<PackageProblem> VerifyPackage(const std::wstring& path);
