#pragma once
// Export of a package as a StarDict 2.4.2 dictionary: NAME.ifo, NAME.idx and NAME.dict.dz.
//
// The .idx lists every headword in StarDict order (ASCII letters without regard to case
// first, plain bytes second, the package's own index order) as the headword, a zero byte
// and the explanation's offset and size in big-endian. The .dict holds the package's
// uncompressed data unchanged, so the offsets carry over, with sametypesequence=m (plain
// UTF-8 text). It is written as a dictzip file: a gzip member whose header carries the
// "RA" random-access field (package/dictzip.h).

#include <cstdint>
#include <memory>
#include <string>

class CPackageReader;

enum class StarDictExportResult {
  kDone,
  kPackageDamaged,  // an explanation could not be read from the package
  kTooLarge,        // more data than one dictzip file can index
  kWriteFailed,     // a file could not be created or written
};

// Writes folder/baseName.ifo, .idx and .dict.dz from an open package. folder must exist.
// The files replace earlier ones of those names only once all three are complete.
StarDictExportResult ExportStarDict(CPackageReader& reader, const std::wstring& folder,
                                    const std::wstring& baseName);
