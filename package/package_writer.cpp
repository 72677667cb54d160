#include "package/package_writer.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "common/byte_order.h"
#include "common/prefetch.h"
#include "core/convert_job.h"
#include "package/crc32.h"
#include "platform/file_system.h"

namespace {

constexpr size_t kCopyBufferSize = 1 << 20;

// How many entries ahead the index asks for a headword.
constexpr size_t kLookAhead = 8;

// The temporary file whose bytes become the data section.
const std::wstring& DataTempPath(const CConvertJob& job) {
  return job.m_compress ? job.m_dzPath : job.m_desPath;
}

// Its size, which the header states.
uint32_t DataSectionSize(const CConvertJob& job) {
  return job.m_compress ? job.m_compressedSize : job.m_dataSize;
}

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
  m_ok = m_ok && m_file.Seek(kChecksumOffset) && m_file.Write(bytes, sizeof bytes);
  return m_ok;
}

bool CPackageStream::Close() {
  const bool closed = m_file.Close();
  return m_ok && closed;
}

bool WritePackageHeader(const CConvertJob& job, CPackageStream& stream,
                        std::u16string_view metaBlock) {
  const uint64_t metadataEnd = kPackageHeaderSize + 2ull * metaBlock.size();
  const uint64_t dataOffset = metadataEnd + job.m_indexSize;
  if (dataOffset > std::numeric_limits<uint32_t>::max()) return false;

  std::array<unsigned char, kPackageHeaderSize> header{};
  PutLe32(&header[0], static_cast<uint32_t>(metadataEnd));
  PutLe16(&header[4], kPackageFormatVersion);
  PutLe16(&header[6], job.m_compress ? 1 : 0);
  PutLe32(&header[8], static_cast<uint32_t>(metadataEnd));
  PutLe32(&header[12], job.m_indexSize);
  PutLe32(&header[16], static_cast<uint32_t>(dataOffset));
  PutLe32(&header[20], DataSectionSize(job));
  PutLe32(&header[24], static_cast<uint32_t>(job.m_entries.size()));
  PutLe32(&header[28], 0);
  if (!stream.Write(header.data(), header.size())) return false;

  std::vector<unsigned char> meta(2 * metaBlock.size());
  for (size_t i = 0; i < metaBlock.size(); ++i) PutLe16(&meta[2 * i], metaBlock[i]);
  return stream.Write(meta.data(), meta.size());
}

bool WritePackageIndex(CPackageStream& stream, const CConvertJob& job) {
  const std::vector<DictEntry>& entries = job.m_entries;
  std::vector<unsigned char> buffer(kCopyBufferSize);
  size_t used = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DictEntry& e = entries[i];
    // The headwords lie in word-list order, scattered over the text: ask for one a few
    // entries ahead while this one is copied.
    if (i + kLookAhead < entries.size()) PrefetchText(entries[i + kLookAhead].word.data());
    const size_t size = e.word.size() + 9;
    if (buffer.size() - used < size) {
      if (!stream.Write(buffer.data(), used)) return false;
      used = 0;
      if (buffer.size() < size) buffer.resize(size);
    }
    unsigned char* out = buffer.data() + used;
    std::memcpy(out, e.word.data(), e.word.size());
    out += e.word.size();
    *out = 0;
    PutLe32(out + 1, e.offset);
    PutLe32(out + 5, e.size);
    used += size;
  }
  return stream.Write(buffer.data(), used);
}

bool CopyPackageData(const CConvertJob& job, CPackageStream& stream) {
  platform::CBinaryFile data;
  if (!data.Open(DataTempPath(job), platform::CBinaryFile::Mode::kRead))
    return false;
  const uint64_t expected = DataSectionSize(job);
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

PackageResult WritePackage(const CConvertJob& job, const std::wstring& path,
                           std::u16string_view metaBlock,
                           const std::function<void(int)>& progress) {
  const auto report = [&progress](int percent) {
    if (progress) progress(percent);
  };
  // The data must be there before anything is created: a package without its data is
  // never produced.
  if (!platform::PathExists(DataTempPath(job)))
    return PackageResult::kDataMissing;

  const std::wstring partial = path + L".part";
  CPackageStream stream;
  if (!stream.Create(partial)) return PackageResult::kCreateFailed;

  PackageResult result = PackageResult::kWritten;
  if (!WritePackageHeader(job, stream, metaBlock)) result = PackageResult::kWriteFailed;
  report(85);
  if (result == PackageResult::kWritten && !WritePackageIndex(stream, job))
    result = PackageResult::kWriteFailed;
  report(90);
  if (result == PackageResult::kWritten && !CopyPackageData(job, stream))
    result = platform::PathExists(DataTempPath(job))
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
