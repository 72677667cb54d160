#pragma once
// Export of a package as a StarDict 2.4.2 dictionary: NAME.ifo, NAME.idx and NAME.dict.dz.
//
// The .idx lists every headword in StarDict order (ASCII letters without regard to case
// first, plain bytes second, the package's own index order) as the headword, a zero byte
// and the explanation's offset and size in big-endian. The .dict holds the package's
// uncompressed data unchanged, so the offsets carry over, with sametypesequence=m (plain
// UTF-8 text). It is written as a dictzip file: a gzip member whose header carries the
// "RA" random-access field (package/dictzip.h).
//
// An export is all old or all new. The three files are written into a folder of our own,
// created under a free name and claimed (platform::CFolderLock) for as long as we fill it,
// and then swapped in:
//   - a target folder that does not exist yet: the whole folder is renamed into place;
//   - a target folder that holds nothing but this dictionary's three files: the two
//     folders trade names in one step where the system can (Linux), and the old one is
//     removed;
//   - otherwise (Windows, a folder holding other files, a link to a folder): file by file.
//     The old NAME.ifo is moved out of sight into our folder first, the .dict.dz and .idx
//     are renamed over the old ones, and the new .ifo comes last. StarDict readers find a
//     dictionary by its .ifo, so one that looks at any moment, or after a kill, finds the
//     old dictionary, the new one or, for the moment of the renames, none; never the
//     .ifo of one with the data of the other.
// The working folder lies beside the target ("DIR.lumo-new", "DIR.lumo-new-2", ...) or,
// file by file, inside it ("NAME.lumo-new", ...). One that a killed export left is removed
// by the next export of the same dictionary, once its claim shows that nobody holds it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/status.h"

class CPackageReader;

enum class StarDictExportResult {
  kDone,
  kPackageDamaged,  // an explanation could not be read from the package
  kTooLarge,        // more data than one dictzip file can index
  kWriteFailed,     // a file or folder could not be created, written or moved into place
  kStopped,         // stopRequested said so; nothing was changed
};

struct StarDictExportOptions {
  // Reads what can be read of a damaged package: entries whose explanation cannot be read
  // are left out (listed in leftOut) instead of failing the export.
  bool force = false;
  // Asked between pieces of the work; true abandons the export, leaving the target as it
  // was and nothing of ours behind.
  std::function<bool()> stopRequested;
};

struct StarDictExportOutcome {
  StarDictExportResult result = StarDictExportResult::kDone;
  Status cause;                 // kWriteFailed: the file and the system's reason
  std::vector<size_t> leftOut;  // with force: the entries left out, in the package's order
};

// Writes folder/baseName.ifo, .idx and .dict.dz from an open package, as above. folder
// need not exist, but its parent must.
StarDictExportOutcome ExportStarDict(CPackageReader& reader, const std::wstring& folder,
                                     const std::wstring& baseName,
                                     const StarDictExportOptions& options = {});
