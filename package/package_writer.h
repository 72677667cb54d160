#pragma once
// The package (.ldic) writer; the layout is in format.h. The four steps write to a
// CPackageStream, which keeps a running CRC-32 of everything written, so the checksum
// needs no second pass over the file.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "common/status.h"
#include "package/format.h"
#include "platform/file.h"

struct ConvertResult;

class CPackageStream {
 public:
  // Writes into file, freshly created for writing.
  explicit CPackageStream(platform::CBinaryFile file) : m_file(std::move(file)) {}
  bool Write(const void* data, size_t count);
  // Overwrites the checksum field with the CRC-32 of everything written.
  bool StampChecksum();
  // The first failure of any step, or of the closing itself.
  Status Close();
  uint32_t Crc() const { return m_crc; }
  uint64_t Length() const { return m_length; }

 private:
  platform::CBinaryFile m_file;
  uint32_t m_crc = 0;
  uint64_t m_length = 0;
  bool m_ok = m_file.IsOpen();
};

bool WritePackageHeader(const ConvertResult& result, CPackageStream& stream,
                        std::u16string_view metaBlock);
bool WritePackageIndex(CPackageStream& stream, const ConvertResult& result);
// A failure when the data temporary file cannot be opened or read (kTempFileMissing when
// it is gone) or does not hold the size the header states; a failed write to the stream
// is left for its Close to report.
Status CopyPackageData(const ConvertResult& result, CPackageStream& stream);
bool StampPackageChecksum(CPackageStream& stream);

// Writes the whole package of a finished conversion: into a new file of its own beside
// path (path.part, or a numbered variant when a file of that name is there, which is left
// alone), then moved into place, so that a failed write leaves no partial package and an
// earlier file at path as it was. progress is called with 85, 90, 97 and 100 after the
// four steps.
// Failures: kPackageCreateFailed (the package cannot be created or moved into place),
// kTempFileMissing (the data file is gone), kWriteFailed (anything else).
Status WritePackage(const ConvertResult& result, const std::wstring& path,
                    std::u16string_view metaBlock,
                    const std::function<void(int)>& progress = {});
