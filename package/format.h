#pragma once
// The package (.ldic) layout, defined once: the writer, the reader, `ldic info` and the
// descriptions of listed dictionaries all encode and decode it through this file. All
// integers are little-endian.
//
//   header (32 bytes)   u32 metadataEnd, u16 formatVersion 1, u16 compressed,
//                       u32 indexOffset, u32 indexSize, u32 dataOffset, u32 dataSize,
//                       u32 entryCount, u32 checksum (CRC-32 of the file with this 0)
//   metadata block      UTF-16LE items "key=value" separated by U+0000, no terminator
//   index               per entry: headword bytes, 0x00, u32 offset, u32 size
//   data                the chunked compressed layout of the explanations (or the
//                       explanations themselves when the package is not compressed):
//
//     u16 chunk length (58315) | u16 N | N x u16 compressed sizes | chunks | 03 00 |
//     u32 CRC-32 of the input | u32 input size
//
//   Each chunk is raw deflate ending with a full flush, so that it inflates on its own;
//   03 00 is the empty final block that ends the stream.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---- Header ----

constexpr uint32_t kPackageHeaderSize = 32;
constexpr uint16_t kPackageFormatVersion = 1;

// Byte offsets of the header's fields.
constexpr size_t kMetadataEndField = 0;
constexpr size_t kFormatVersionField = 4;
constexpr size_t kCompressedField = 6;
constexpr size_t kIndexOffsetField = 8;
constexpr size_t kIndexSizeField = 12;
constexpr size_t kDataOffsetField = 16;
constexpr size_t kDataSizeField = 20;
constexpr size_t kEntryCountField = 24;
constexpr size_t kChecksumField = 28;

struct PackageHeader {
  uint32_t metadataEnd = 0;
  uint16_t formatVersion = 0;
  uint16_t compressed = 0;
  uint32_t indexOffset = 0;
  uint32_t indexSize = 0;
  uint32_t dataOffset = 0;
  uint32_t dataSize = 0;
  uint32_t entryCount = 0;
  uint32_t checksum = 0;

  void EncodeTo(unsigned char out[kPackageHeaderSize]) const;
  static PackageHeader DecodeFrom(const unsigned char in[kPackageHeaderSize]);
};

// ---- Metadata block ----

// What the user typed: the name and the date are always stored, the other items only
// when they are not empty. Values are taken as typed.
struct PackageFacts {
  std::wstring name;
  std::wstring author;
  std::wstring lumo;
  std::wstring version;
  std::wstring date;
};

// The block of the facts: "N=name", "A=author", "Lumo=number", "V=version", "DP=date".
std::u16string BuildMetadataBlock(const PackageFacts& facts);

// The block as the file stores it (UTF-16LE), and back; an odd last byte is ignored.
std::string EncodeMetadataBytes(std::u16string_view block);
std::u16string DecodeMetadataBytes(std::string_view bytes);

// LumoDict reads no longer metadata block than this many bytes.
constexpr uint32_t kMaxHostMetadataLength = 1024;

struct MetadataItem {
  std::u16string key;
  std::u16string value;
};

enum class MetadataRules {
  // What the writer promises, for verification: every item is key=value, cut at its
  // first "=", with a non-empty key, and the first item is the name.
  kStrict,
  // What LumoDict accepts when it lists a package: an item counts only when cutting it at
  // every "=" leaves exactly two non-empty pieces; any other item is passed over.
  kLenient,
};

// The items of a block in their order. Under kStrict, false at the first item that breaks
// the rules, with *problem saying which; under kLenient always true.
bool DecodeMetadataItems(std::u16string_view block, MetadataRules rules,
                         std::vector<MetadataItem>* items, std::string* problem = nullptr);

// ---- Index ----

// The bytes a record adds to its headword: the terminating zero, offset and size.
constexpr uint32_t kIndexRecordOverhead = 9;

// Writes the record of one entry to out, which has room for word.size() +
// kIndexRecordOverhead bytes; returns the end of what was written.
unsigned char* EncodeIndexRecord(unsigned char* out, std::string_view word, uint32_t offset,
                                 uint32_t size);

struct IndexRecord {
  std::string_view word;  // a view into the index
  uint32_t offset = 0;
  uint32_t size = 0;
};

enum class IndexRecordFault {
  kNone,
  kUnterminated,  // no zero after the headword
  kTruncated,     // the zero, but not the offset and size after it
};

// Decodes the record at *pos of an index section and moves *pos past it.
IndexRecordFault DecodeIndexRecord(std::string_view index, size_t* pos, IndexRecord* record);

// ---- Chunked data ----

constexpr uint32_t kChunkLength = 58315;
// The chunk length and the chunk count in front of the table.
constexpr uint32_t kChunkTableHeadSize = 4;
// Each table slot is a u16.
constexpr uint32_t kChunkTableSlotSize = 2;
// The empty final deflate block after the chunks.
constexpr unsigned char kFinishingBytes[] = {0x03, 0x00};
constexpr uint32_t kFinishingSize = sizeof(kFinishingBytes);
// The CRC-32 and size of the uncompressed data at the end.
constexpr uint32_t kChunkTrailerSize = 8;
// The layout keeps the input size as a signed 32-bit number.
constexpr uint64_t kMaxCompressibleSize = 0x7FFFFFFF;

// Chunks needed for size bytes of data.
constexpr uint64_t ChunkCountFor(uint64_t size) { return (size + kChunkLength - 1) / kChunkLength; }
