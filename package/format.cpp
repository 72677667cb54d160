#include "package/format.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/utf.h"

void PackageHeader::EncodeTo(unsigned char out[kPackageHeaderSize]) const {
  PutLe32(out + kMetadataEndField, metadataEnd);
  PutLe16(out + kFormatVersionField, formatVersion);
  PutLe16(out + kCompressedField, compressed);
  PutLe32(out + kIndexOffsetField, indexOffset);
  PutLe32(out + kIndexSizeField, indexSize);
  PutLe32(out + kDataOffsetField, dataOffset);
  PutLe32(out + kDataSizeField, dataSize);
  PutLe32(out + kEntryCountField, entryCount);
  PutLe32(out + kChecksumField, checksum);
}

PackageHeader PackageHeader::DecodeFrom(const unsigned char in[kPackageHeaderSize]) {
  PackageHeader h;
  h.metadataEnd = GetLe32(in + kMetadataEndField);
  h.formatVersion = GetLe16(in + kFormatVersionField);
  h.compressed = GetLe16(in + kCompressedField);
  h.indexOffset = GetLe32(in + kIndexOffsetField);
  h.indexSize = GetLe32(in + kIndexSizeField);
  h.dataOffset = GetLe32(in + kDataOffsetField);
  h.dataSize = GetLe32(in + kDataSizeField);
  h.entryCount = GetLe32(in + kEntryCountField);
  h.checksum = GetLe32(in + kChecksumField);
  return h;
}

std::u16string BuildMetadataBlock(const PackageFacts& facts) {
  std::u16string block = u"N=" + WideToUtf16(facts.name);
  const auto add = [&block](const char16_t* key, const std::wstring& value, bool always) {
    if (value.empty() && !always) return;
    block.push_back(u'\0');
    block += key;
    block += WideToUtf16(value);
  };
  add(u"A=", facts.author, false);
  add(u"Lumo=", facts.lumo, false);
  add(u"V=", facts.version, false);
  add(u"DP=", facts.date, true);  // the date picker always shows a date
  return block;
}

std::string EncodeMetadataBytes(std::u16string_view block) {
  std::string bytes(2 * block.size(), '\0');
  for (size_t i = 0; i < block.size(); ++i)
    PutLe16(reinterpret_cast<unsigned char*>(bytes.data()) + 2 * i, block[i]);
  return bytes;
}

std::u16string DecodeMetadataBytes(std::string_view bytes) {
  return DecodeUtf16Units(bytes, Utf16ByteOrder::kLittleEndian);
}

namespace {

// Under the lenient rules: the item's two pieces when cutting it at every "=" leaves
// exactly two non-empty ones ("N=" or "A=b=c" count as nothing).
bool SplitLenient(std::u16string_view item, MetadataItem* out) {
  std::u16string_view pieces[2];
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    const size_t equals = item.find(u'=', start);
    const std::u16string_view piece =
        item.substr(start, equals == item.npos ? item.npos : equals - start);
    if (!piece.empty()) {
      if (count == 2) return false;
      pieces[count++] = piece;
    }
    if (equals == item.npos) break;
    start = equals + 1;
  }
  if (count != 2) return false;
  *out = {std::u16string(pieces[0]), std::u16string(pieces[1])};
  return true;
}

}  // namespace

bool DecodeMetadataItems(std::u16string_view block, MetadataRules rules,
                         std::vector<MetadataItem>* items, std::string* problem) {
  items->clear();
  const auto fail = [problem](std::string text) {
    if (problem) *problem = std::move(text);
    return false;
  };
  // Items are separated by U+0000; the writer leaves the last one unterminated, so a
  // block that ends with U+0000 has an empty last item.
  size_t start = 0;
  for (;;) {
    const size_t end = block.find(u'\0', start);
    const std::u16string_view item =
        block.substr(start, end == block.npos ? block.npos : end - start);
    if (rules == MetadataRules::kLenient) {
      MetadataItem parsed;
      if (SplitLenient(item, &parsed)) items->push_back(std::move(parsed));
    } else {
      const size_t equals = item.find(u'=');
      // A value may itself hold "=", a key may not be empty.
      if (equals == item.npos || equals == 0)
        return fail("item " + std::to_string(items->size() + 1) + " \"" +
                    Utf16ToUtf8(item.substr(0, 40)) + "\" has no key=value form");
      items->push_back({std::u16string(item.substr(0, equals)), std::u16string(item.substr(equals + 1))});
    }
    if (end == block.npos) break;
    start = end + 1;
  }
  if (rules == MetadataRules::kStrict && items->front().key != u"N")
    return fail("the first item is not the name (N=)");
  return true;
}

unsigned char* EncodeIndexRecord(unsigned char* out, std::string_view word, uint32_t offset,
                                 uint32_t size) {
  std::memcpy(out, word.data(), word.size());
  out += word.size();
  *out = 0;
  PutLe32(out + 1, offset);
  PutLe32(out + 5, size);
  return out + kIndexRecordOverhead;
}

IndexRecordFault DecodeIndexRecord(std::string_view index, size_t* pos, IndexRecord* record) {
  const size_t end = index.find('\0', *pos);
  if (end == index.npos) return IndexRecordFault::kUnterminated;
  if (index.size() - end < kIndexRecordOverhead) return IndexRecordFault::kTruncated;
  const auto* tail = reinterpret_cast<const unsigned char*>(index.data()) + end + 1;
  record->word = index.substr(*pos, end - *pos);
  record->offset = GetLe32(tail);
  record->size = GetLe32(tail + 4);
  *pos = end + kIndexRecordOverhead;
  return IndexRecordFault::kNone;
}
