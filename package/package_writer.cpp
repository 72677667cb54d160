#include "package/package_writer.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <vector>

#include "common/byte_order.h"
#include "common/crc32.h"
#include "common/prefetch.h"
#include "package/convert_result.h"
#include "package/temp_files.h"
#include "platform/file_system.h"

namespace {

constexpr size_t kCopyBufferSize = 1 << 20;

// How many entries ahead the index asks for a headword.
constexpr size_t kLookAhead = 8;

}  // namespace

bool CPackageStream::Write(const void* data, size_t count) {
  if (!m_ok) return false;
  m_ok = m_file.Write(data, count);
  if (m_ok) {
    m_crc = Crc32(m_crc, data, count);
    m_length += count;
  }
  return m_ok;
}

bool CPackageStream::StampChecksum() {
  // The field was written as 0, so the running CRC is the CRC of the file with a zero
  // checksum field.
  unsigned char bytes[4];
  PutLe32(bytes, m_crc);
  m_ok = m_ok && m_file.Seek(kChecksumField) && m_file.Write(bytes, sizeof bytes);
  return m_ok;
}

Status CPackageStream::Close() { return m_file.Close(); }

bool WritePackageHeader(const ConvertResult& result, CPackageStream& stream,
                        std::u16string_view metaBlock) {
  const uint64_t metadataEnd = kPackageHeaderSize + 2ull * metaBlock.size();
  const uint64_t dataOffset = metadataEnd + result.indexSize;
  if (dataOffset > std::numeric_limits<uint32_t>::max()) return false;

  PackageHeader header;
  header.metadataEnd = static_cast<uint32_t>(metadataEnd);
  header.formatVersion = kPackageFormatVersion;
  header.compressed = result.compress ? 1 : 0;
  header.indexOffset = static_cast<uint32_t>(metadataEnd);
  header.indexSize = result.indexSize;
  header.dataOffset = static_cast<uint32_t>(dataOffset);
  header.dataSize = result.DataSectionSize();
  header.entryCount = static_cast<uint32_t>(result.index.EntryCount());
  header.checksum = 0;  // stamped at the end
  unsigned char bytes[kPackageHeaderSize];
  header.EncodeTo(bytes);
  if (!stream.Write(bytes, sizeof bytes)) return false;
  const std::string meta = EncodeMetadataBytes(metaBlock);
  return stream.Write(meta.data(), meta.size());
}

bool WritePackageIndex(CPackageStream& stream, const ConvertResult& result) {
  const CSortedIndex& entries = result.index;
  const size_t count = entries.EntryCount();
  std::vector<unsigned char> buffer(kCopyBufferSize);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    const DictEntry e = entries[i];
    // The headwords lie in word-list order, scattered over the store: ask for one a few
    // entries ahead while this one is copied, and for its record further ahead.
    if (i + 2 * kLookAhead < count) PrefetchText(&entries.Record(entries.ListPosition(i + 2 * kLookAhead)));
    if (i + kLookAhead < count) PrefetchText(entries[i + kLookAhead].word.data());
    const size_t size = e.word.size() + kIndexRecordOverhead;
    if (buffer.size() - used < size) {
      if (!stream.Write(buffer.data(), used)) return false;
      used = 0;
      if (buffer.size() < size) buffer.resize(size);
    }
    EncodeIndexRecord(buffer.data() + used, e.word, e.offset, e.size);
    used += size;
  }
  return stream.Write(buffer.data(), used);
}

Status CopyPackageData(const ConvertResult& result, CPackageStream& stream) {
  const auto missing = [&result](Status cause) {
    return platform::PathExists(result.DataPath()) ? cause
                                                   : cause.WithKind(StatusKind::kTempFileMissing);
  };
  platform::CBinaryFile data;
  if (Status opened = data.Open(result.DataPath(), platform::CBinaryFile::Mode::kRead); !opened)
    return missing(opened.WithKind(StatusKind::kWriteFailed));
  const uint64_t expected = result.DataSectionSize();
  std::vector<unsigned char> buffer(kCopyBufferSize);
  uint64_t copied = 0;
  for (;;) {
    const std::ptrdiff_t got = data.Read(buffer.data(), buffer.size());
    if (got < 0) return missing(data.Error().WithKind(StatusKind::kWriteFailed));
    if (got == 0) break;
    // The stream's own failure is reported when it is closed.
    if (!stream.Write(buffer.data(), static_cast<size_t>(got))) return Status();
    copied += static_cast<uint64_t>(got);
  }
  // The header already states the size: a data file that changed since is no use.
  if (copied != expected)
    return Status::Error(StatusKind::kWriteFailed, result.DataPath(), 0,
                         "the temporary data file changed during the run");
  return Status();
}

bool StampPackageChecksum(CPackageStream& stream) { return stream.StampChecksum(); }

Status WritePackage(const ConvertResult& content, const std::wstring& path,
                    std::u16string_view metaBlock, const std::function<void(int)>& progress) {
  const auto report = [&progress](int percent) {
    if (progress) progress(percent);
  };
  // The data must be there before anything is created: a package without its data is
  // never produced.
  if (!platform::PathExists(content.DataPath()))
    return Status::Error(StatusKind::kTempFileMissing, content.DataPath(), 0, "not found");

  platform::CBinaryFile file;
  std::wstring partial;
  if (Status created = CreatePartialFile(path, &file, &partial); !created)
    return created.WithKind(StatusKind::kPackageCreateFailed).WithPath(path);
  CPackageStream stream(std::move(file));

  // After a failed step the later ones write nothing; the file's own failure, if that was
  // the cause, is what Close reports.
  bool written = WritePackageHeader(content, stream, metaBlock);
  report(85);
  written = written && WritePackageIndex(stream, content);
  report(90);
  Status failure;
  if (written) {
    failure = CopyPackageData(content, stream);
    written = failure.ok();
  }
  report(97);
  written = written && StampPackageChecksum(stream);
  const Status closed = stream.Close();
  if (failure.ok() && !closed.ok()) failure = closed.WithKind(StatusKind::kWriteFailed).WithPath(path);
  if (failure.ok() && !written)
    failure = Status::Error(StatusKind::kWriteFailed, path, 0, "the entries do not fit the package layout");
  if (failure.ok()) {
    if (Status moved = platform::ReplaceFile(partial, path); !moved)
      failure = moved.WithKind(StatusKind::kPackageCreateFailed);
  }
  if (!failure.ok()) {
    platform::RemoveFile(partial);
    return failure;
  }
  report(100);
  return Status();
}
