#pragma once
// MDict dictionaries (.mdx) written for the tests, in every layout the reader takes:
// versions 1.2 and 2.0 (and the header of any other version), blocks stored, as LZO1X
// literal runs or zlib streams, any encoding, an enciphered key index, style sheets and
// link records. It also says where each part lies, so that tests can damage one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mdict_test {

enum class Compression : uint32_t { kNone = 0, kLzo = 1, kZlib = 2 };

struct Entry {
  std::string key;
  std::string record;  // without its NUL, which the writer adds
};

struct Dictionary {
  std::string version = "2.0";
  // As the header names it. Keys and records are UTF-8 text, written in UTF-16 for
  // "UTF-16"; for the code pages they are taken as bytes already in that encoding.
  std::string encoding = "UTF-8";
  std::string format = "Html";
  std::string title = "Test Title";
  std::string description;
  std::string styleSheet;
  std::string keyCaseSensitive = "No";
  std::string encrypted = "0";
  Compression compression = Compression::kZlib;
  size_t keysPerBlock = 3;
  // A record block is closed once it holds this many bytes: after the record that fills
  // it, or right there when splitRecords is set (records then go on in the next block).
  size_t recordBlockBytes = 64;
  bool splitRecords = false;
  std::vector<Entry> entries;
};

// Where the parts of a written file begin (and the file's end), in file order.
struct Layout {
  size_t headerText = 4, keySection = 0, keyIndex = 0;
  std::vector<size_t> keyBlocks;
  size_t recordSection = 0, recordIndex = 0;
  std::vector<size_t> recordBlocks;
  size_t end = 0;
};

std::string WriteMdict(const Dictionary& dictionary, Layout* layout = nullptr);

// text with "&", "<", ">" and '"' as the character entities HTML names them.
std::string EscapeHtml(std::string_view text);

// A stored block: compression type, Adler-32 of data, data compressed.
std::string CompressedBlock(const std::string& data, Compression compression);

}  // namespace mdict_test
