#pragma once
// Export of a package as a StarDict 2.4.2 dictionary: NAME.ifo, NAME.idx and NAME.dict.dz.
//
// The .idx lists every headword in StarDict order (ASCII letters without regard to case
// first, plain bytes second, the package's own index order) as the headword, a zero byte
// and the explanation's offset and size in big-endian. The .dict holds the package's
// uncompressed data unchanged, so the offsets carry over, with sametypesequence=m (plain
// UTF-8 text). It is written as a dictzip file: a gzip member whose header carries the
// "RA" random-access field (version 1, chunk length, chunk count, each chunk's compressed
// size), each chunk ended by a full flush so that a reader inflates it alone.

#include <cstdint>
#include <memory>
#include <string>

class CPackageReader;

// Writes a dictzip file from a stream of data of known total size. Add the data in any
// pieces, then Finish; every step reports failure.
class CDictzipWriter {
 public:
  // The RA field's 16-bit length limits the chunk count.
  static constexpr uint32_t kMaxChunks = (0xFFFF - 10) / 2;

  CDictzipWriter();
  ~CDictzipWriter();
  CDictzipWriter(const CDictzipWriter&) = delete;
  CDictzipWriter& operator=(const CDictzipWriter&) = delete;

  // False when the file cannot be created or totalSize needs more than kMaxChunks.
  bool Begin(const std::wstring& path, uint64_t totalSize);
  bool Add(const void* data, size_t count);
  // Ends the stream, writes the trailer and the chunk table; false on any failure,
  // including data that did not add up to totalSize.
  bool Finish();

 private:
  bool FlushChunk();

  struct State;
  std::unique_ptr<State> m_state;
};

enum class StarDictExportResult {
  kDone,
  kPackageDamaged,  // an explanation could not be read from the package
  kTooLarge,        // more data than one dictzip file can index
  kWriteFailed,     // a file could not be created or written
};

// Writes folder/baseName.ifo, .idx and .dict.dz from an open package. folder must exist.
StarDictExportResult ExportStarDict(CPackageReader& reader, const std::wstring& folder,
                                    const std::wstring& baseName);
