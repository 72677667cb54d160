#include "tests/mdict/mdict_writer.h"

#include <zlib.h>

#include <algorithm>

#include "common/utf.h"
#include "mdict/ripemd128.h"

namespace mdict_test {

namespace {

std::string Be(uint64_t value, size_t bytes) {
  std::string out;
  for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

std::string Le32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

uint32_t Adler(const std::string& data) {
  return static_cast<uint32_t>(
      adler32(1, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (const char16_t unit : Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

// An LZO1X stream of one literal run and the end marker.
std::string LzoLiterals(const std::string& data) {
  std::string out;
  const size_t n = data.size();
  if (n == 0) {
  } else if (n <= 238) {
    out.push_back(static_cast<char>(17 + n));
  } else {
    out.push_back('\0');
    size_t rest = n - 18;
    for (; rest > 255; rest -= 255) out.push_back('\0');
    out.push_back(static_cast<char>(rest));
  }
  return out + data + std::string("\x11\x00\x00", 3);
}

}  // namespace

std::string EscapeHtml(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out.push_back(c);
  }
  return out;
}

std::string CompressedBlock(const std::string& data, Compression compression) {
  std::string stored;
  if (compression == Compression::kNone) {
    stored = data;
  } else if (compression == Compression::kLzo) {
    stored = LzoLiterals(data);
  } else {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    stored.resize(size);
    compress2(reinterpret_cast<Bytef*>(stored.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
    stored.resize(size);
  }
  return Le32(static_cast<uint32_t>(compression)) + Be(Adler(data), 4) + stored;
}

std::string WriteMdict(const Dictionary& d, Layout* layout) {
  Layout local;
  Layout& at = layout ? *layout : local;
  at = Layout();
  const bool v2 = d.version.rfind("1.", 0) != 0;
  const size_t width = v2 ? 8 : 4;
  const bool utf16 = d.encoding == "UTF-16";
  const std::string nul = utf16 ? std::string(2, '\0') : std::string(1, '\0');
  const auto encode = [utf16](const std::string& text) { return utf16 ? Utf16Le(text) : text; };
  const auto units = [utf16](const std::string& bytes) { return utf16 ? bytes.size() / 2 : bytes.size(); };

  const std::string header =
      "<Dictionary GeneratedByEngineVersion=\"" + d.version + "\" RequiredEngineVersion=\"" + d.version +
      "\" Encrypted=\"" + d.encrypted + "\" Encoding=\"" + d.encoding + "\" Format=\"" + d.format +
      "\" KeyCaseSensitive=\"" + d.keyCaseSensitive + "\" Description=\"" + EscapeHtml(d.description) +
      "\" Title=\"" + EscapeHtml(d.title) + "\" StyleSheet=\"" + EscapeHtml(d.styleSheet) + "\"/>\r\n";
  const std::string headerBytes = Utf16Le(header) + std::string(2, '\0');
  std::string file = Be(headerBytes.size(), 4) + headerBytes + Le32(Adler(headerBytes));

  // Records back to back, each with its NUL; the keys point into them.
  std::string records;
  std::vector<uint64_t> offsets;
  std::vector<size_t> recordEnds;
  for (const Entry& e : d.entries) {
    offsets.push_back(records.size());
    records += encode(e.record) + nul;
    recordEnds.push_back(records.size());
  }

  std::string keyIndex, keyBlocks;
  std::vector<std::string> storedKeyBlocks;
  size_t keyBlockCount = 0;
  for (size_t first = 0; first < d.entries.size(); first += d.keysPerBlock) {
    const size_t last = std::min(d.entries.size(), first + d.keysPerBlock);
    std::string block;
    for (size_t i = first; i < last; ++i) block += Be(offsets[i], width) + encode(d.entries[i].key) + nul;
    const std::string stored = CompressedBlock(block, d.compression);
    storedKeyBlocks.push_back(stored);
    const std::string firstKey = encode(d.entries[first].key), lastKey = encode(d.entries[last - 1].key);
    keyIndex += Be(last - first, width);
    keyIndex += Be(units(firstKey), v2 ? 2 : 1) + firstKey + (v2 ? nul : "");
    keyIndex += Be(units(lastKey), v2 ? 2 : 1) + lastKey + (v2 ? nul : "");
    keyIndex += Be(stored.size(), width) + Be(block.size(), width);
    ++keyBlockCount;
  }
  for (const std::string& stored : storedKeyBlocks) keyBlocks += stored;

  at.keySection = file.size();
  std::string storedIndex = keyIndex;
  if (v2) {
    storedIndex = CompressedBlock(keyIndex, d.compression);
    if (d.encrypted == "2") {
      // The inverse of the reader's deciphering, keyed by the block's own checksum.
      const std::string seed = storedIndex.substr(4, 4) + std::string("\x95\x36\x00\x00", 4);
      const Ripemd128Digest key = Ripemd128(seed);
      unsigned char previous = 0x36;
      for (size_t i = 0; i + 8 < storedIndex.size(); ++i) {
        const auto plain = static_cast<unsigned char>(storedIndex[8 + i]);
        const auto t = static_cast<unsigned char>(plain ^ previous ^ (i & 0xFF) ^ key[i % 16]);
        const auto c = static_cast<unsigned char>((t >> 4) | (t << 4));
        storedIndex[8 + i] = static_cast<char>(c);
        previous = c;
      }
    }
    const std::string numbers = Be(keyBlockCount, 8) + Be(d.entries.size(), 8) + Be(keyIndex.size(), 8) +
                                Be(storedIndex.size(), 8) + Be(keyBlocks.size(), 8);
    file += numbers + Be(Adler(numbers), 4);
  } else {
    file += Be(keyBlockCount, 4) + Be(d.entries.size(), 4) + Be(keyIndex.size(), 4) + Be(keyBlocks.size(), 4);
  }
  at.keyIndex = file.size();
  file += storedIndex;
  for (const std::string& stored : storedKeyBlocks) {
    at.keyBlocks.push_back(file.size());
    file += stored;
  }

  // Record blocks: cut after the record that fills one, or right at the size.
  std::vector<std::string> pieces;
  size_t from = 0;
  while (from < records.size()) {
    size_t to = std::min(records.size(), from + d.recordBlockBytes);
    const auto end = std::lower_bound(recordEnds.begin(), recordEnds.end(), to);
    if (!d.splitRecords && end != recordEnds.end()) to = *end;
    pieces.push_back(records.substr(from, to - from));
    from = to;
  }
  std::string recordIndex, recordBlocks;
  std::vector<std::string> storedRecordBlocks;
  for (const std::string& piece : pieces) {
    storedRecordBlocks.push_back(CompressedBlock(piece, d.compression));
    recordIndex += Be(storedRecordBlocks.back().size(), width) + Be(piece.size(), width);
  }
  at.recordSection = file.size();
  file += Be(pieces.size(), width) + Be(d.entries.size(), width) + Be(recordIndex.size(), width);
  size_t blocksSize = 0;
  for (const std::string& stored : storedRecordBlocks) blocksSize += stored.size();
  file += Be(blocksSize, width);
  at.recordIndex = file.size();
  file += recordIndex;
  for (const std::string& stored : storedRecordBlocks) {
    at.recordBlocks.push_back(file.size());
    file += stored;
  }
  at.end = file.size();
  return file;
}

}  // namespace mdict_test
