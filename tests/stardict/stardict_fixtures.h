#pragma once
// StarDict dictionaries written field by field for the tests, in every layout the reader
// takes: type sequences or typed fields, 32- or 64-bit offsets, a gzipped index, dictzip or
// plain gzip data, synonyms.

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "stardict/dictzip.h"
#include "tests/support/test_support.h"

namespace stardict_test {

using lumo_test::TempDir;

struct Field {
  char type;
  std::string value;
};
struct Record {
  std::string word;
  std::vector<Field> fields;
};
enum class Data { kPlain, kDictzip, kGzip };
struct Layout {
  std::string sameTypes;
  bool offsets64 = false;
  Data data = Data::kPlain;
  bool gzipIndex = false;
  std::vector<std::pair<std::string, uint32_t>> synonyms = {};
};

inline std::string Be(uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

inline std::string Gzip(const std::string& bytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The data of one record as the layout stores it.
inline std::string EncodeFields(const std::vector<Field>& fields, const std::string& sameTypes) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    const bool lower = f.type >= 'a' && f.type <= 'z';
    if (sameTypes.empty()) out.push_back(f.type);
    if (!sameTypes.empty() && i + 1 == fields.size()) out += f.value;
    else if (lower) out += f.value + '\0';
    else out += Be(f.value.size(), 4) + f.value;
  }
  return out;
}

// Writes dir/d.ifo and its companions; returns the .ifo's path.
inline std::wstring WriteDictionary(const TempDir& dir, const std::vector<Record>& records,
                             const Layout& layout, const std::string& extraInfo = "") {
  std::string index, data;
  for (const Record& r : records) {
    const std::string fields = EncodeFields(r.fields, layout.sameTypes);
    index += r.word + '\0' + Be(data.size(), layout.offsets64 ? 8 : 4) + Be(fields.size(), 4);
    data += fields;
  }
  std::string info = std::string("StarDict's dict ifo file\nversion=") +
                     (layout.offsets64 ? "3.0.0\nidxoffsetbits=64\n" : "2.4.2\n") +
                     "bookname=Test Book\nwordcount=" + std::to_string(records.size()) +
                     "\nidxfilesize=" + std::to_string(index.size()) + "\nauthor=An Author\n";
  if (!layout.sameTypes.empty()) info += "sametypesequence=" + layout.sameTypes + "\n";
  if (!layout.synonyms.empty()) {
    std::string syn;
    for (const auto& [word, target] : layout.synonyms) syn += word + '\0' + Be(target, 4);
    lumo_test::WriteBytes(dir.File(L"d.syn"), syn);
    info += "synwordcount=" + std::to_string(layout.synonyms.size()) + "\n";
  }
  lumo_test::WriteBytes(dir.File(L"d.ifo"), info + extraInfo);
  lumo_test::WriteBytes(dir.File(layout.gzipIndex ? L"d.idx.gz" : L"d.idx"),
                        layout.gzipIndex ? Gzip(index) : index);
  if (layout.data == Data::kPlain) {
    lumo_test::WriteBytes(dir.File(L"d.dict"), data);
  } else if (layout.data == Data::kGzip) {
    lumo_test::WriteBytes(dir.File(L"d.dict.dz"), Gzip(data));
  } else {
    CDictzipWriter writer;
    EXPECT_TRUE(writer.Begin(dir.File(L"d.dict.dz"), data.size()));
    EXPECT_TRUE(writer.Add(data.data(), data.size()));
    EXPECT_TRUE(writer.Finish());
  }
  return dir.File(L"d.ifo");
}

}  // namespace stardict_test
