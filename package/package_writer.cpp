#include "package/package_writer.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <vector>

#include "common/byte_order.h"
#include "common/prefetch.h"
#include "package/convert_result.h"
#include "package/crc32.h"
#include "platform/file_system.h"

namespace {

constexpr size_t kCopyBufferSize = 1 << 20;

// How many entries ahead the index asks for a headword.
constexpr size_t kLookAhead = 8;

}  // namespace

bool CPackageStream::Create(const std::wstring& path) {
  m_crc = 0;
  m_length = 0;
  m_ok = m_file.Open(path, platform::CBinaryFile::Mode::kCreateWrite);
  return m_ok;
}

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

bool CPackageStream::Close() {
  const bool closed = m_file.Close();
  return m_ok && closed;
}

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
  header.entryCount = static_cast<uint32_t>(result.entries.size());
  header.checksum = 0;  // stamped at the end
  unsigned char bytes[kPackageHeaderSize];
  header.EncodeTo(bytes);
  if (!stream.Write(bytes, sizeof bytes)) return false;
  const std::string meta = EncodeMetadataBytes(metaBlock);
  return stream.Write(meta.data(), meta.size());
}

bool WritePackageIndex(CPackageStream& stream, const ConvertResult& result) {
  const std::vector<DictEntry>& entries = result.entries;
  std::vector<unsigned char> buffer(kCopyBufferSize);
  size_t used = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DictEntry& e = entries[i];
    // The headwords lie in word-list order, scattered over the text: ask for one a few
    // entries ahead while this one is copied.
    if (i + kLookAhead < entries.size()) PrefetchText(entries[i + kLookAhead].word.data());
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

bool CopyPackageData(const ConvertResult& result, CPackageStream& stream) {
  platform::CBinaryFile data;
  if (!data.Open(result.DataPath(), platform::CBinaryFile::Mode::kRead))
    return false;
  const uint64_t expected = result.DataSectionSize();
  std::vector<unsigned char> buffer(kCopyBufferSize);
  uint64_t copied = 0;
  for (;;) {
    const std::ptrdiff_t got = data.Read(buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    if (!stream.Write(buffer.data(), static_cast<size_t>(got))) return false;
    copied += static_cast<uint64_t>(got);
  }
  // The header already states the size: a data file that changed since is no use.
  return copied == expected;
}

bool StampPackageChecksum(CPackageStream& stream) { return stream.StampChecksum(); }

PackageResult WritePackage(const ConvertResult& content, const std::wstring& path,
                           std::u16string_view metaBlock,
                           const std::function<void(int)>& progress) {
  const auto report = [&progress](int percent) {
    if (progress) progress(percent);
  };
  // The data must be there before anything is created: a package without its data is
  // never produced.
  if (!platform::PathExists(content.DataPath()))
    return PackageResult::kDataMissing;

  const std::wstring partial = path + L".part";
  CPackageStream stream;
  if (!stream.Create(partial)) return PackageResult::kCreateFailed;

  PackageResult result = PackageResult::kWritten;
  if (!WritePackageHeader(content, stream, metaBlock)) result = PackageResult::kWriteFailed;
  report(85);
  if (result == PackageResult::kWritten && !WritePackageIndex(stream, content))
    result = PackageResult::kWriteFailed;
  report(90);
  if (result == PackageResult::kWritten && !CopyPackageData(content, stream))
    result = platform::PathExists(content.DataPath())
                 ? PackageResult::kWriteFailed
                 : PackageResult::kDataMissing;
  report(97);
  if (result == PackageResult::kWritten && !StampPackageChecksum(stream))
    result = PackageResult::kWriteFailed;
  if (!stream.Close() && result == PackageResult::kWritten) result = PackageResult::kWriteFailed;
  if (result == PackageResult::kWritten && !platform::ReplaceFile(partial, path))
    result = PackageResult::kCreateFailed;
  if (result != PackageResult::kWritten) {
    platform::RemoveFile(partial);
    return result;
  }
  report(100);
  return result;
}

UserMessage PackageResultMessage(PackageResult result) {
  switch (result) {
    case PackageResult::kCreateFailed: return UserMessage::kPackageCreateFailed;
    case PackageResult::kDataMissing: return UserMessage::kTempFileMissing;
    default: return UserMessage::kConvertFailed;
  }
}
