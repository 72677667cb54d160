#include "mdict/mdict_reader.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <cwctype>
#include <limits>
#include <new>
#include <vector>

#include "common/byte_order.h"
#include "common/memory_fault.h"
#include "common/text_store.h"
#include "common/utf.h"
#include "mdict/lzo1x.h"
#include "mdict/mdict_text.h"
#include "mdict/ripemd128.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/text_convert.h"
#include "textio/markup_text.h"

namespace {

// The header's text in UTF-16 is a few kilobytes; a larger one is no header.
constexpr uint64_t kMaxHeaderSize = 16 << 20;

// The titles MDict's own builder leaves when none was given.
constexpr std::string_view kPlaceholderTitle = "Title (No HTML code allowed)";

// Links are followed through at most this many steps per key of the dictionary (and a
// base), so that a file woven of links to repeated keys cannot keep the reader busy for
// the square of its size.
constexpr uint64_t kLinkStepsPerKey = 16;
constexpr uint64_t kLinkStepsBase = 1 << 20;

Status Damaged(const std::wstring& path, const std::string& what) {
  return Status::Error(StatusKind::kMdictDamaged, path, 0, what);
}

// Reads count bytes at offset into out; short when the file was cut since its size was
// taken.
Status ReadAt(platform::CBinaryFile& file, const std::wstring& path, uint64_t offset, uint64_t count,
              std::string* out) {
  if (count > 1 << 20) NoteLargeAllocation();
  out->resize(static_cast<size_t>(count));
  if (!file.Seek(offset)) return file.Error().WithKind(StatusKind::kInputUnreadable);
  size_t got = 0;
  while (got < out->size()) {
    const std::ptrdiff_t n = file.Read(out->data() + got, out->size() - got);
    if (n < 0) return file.Error().WithKind(StatusKind::kInputUnreadable);
    if (n == 0) return Damaged(path, "the file ends early");
    got += static_cast<size_t>(n);
  }
  return Status();
}

uint32_t Adler32(std::string_view data) {
  return static_cast<uint32_t>(
      adler32_z(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

// Inflates a zlib stream that must give exactly size bytes; the output grows as it really
// inflates, never past size. *adler is the Adler-32 of the output, which inflating has
// computed already.
bool Inflate(std::string_view in, size_t size, std::string* out, uint32_t* adler) {
  out->clear();
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  struct Ender {
    z_stream* stream;
    ~Ender() { inflateEnd(stream); }
  } ender{&stream};
  size_t fed = 0, produced = 0;
  for (;;) {
    if (stream.avail_in == 0 && fed < in.size()) {
      const size_t piece = std::min<size_t>(in.size() - fed, UINT32_MAX);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + fed));
      stream.avail_in = static_cast<uInt>(piece);
      fed += piece;
    }
    char spare;
    if (produced == out->size() && produced < size) {
      NoteLargeAllocation();
      out->resize(std::min(size, std::max({2 * produced, size_t{1} << 16})));
    }
    // Once the output is full, a byte of room shows whether the stream would give more.
    const bool full = produced == out->size();
    stream.next_out = reinterpret_cast<Bytef*>(full ? &spare : out->data() + produced);
    stream.avail_out = static_cast<uInt>(full ? 1 : std::min<size_t>(out->size() - produced, UINT32_MAX));
    const uInt room = stream.avail_out;
    const int code = inflate(&stream, Z_NO_FLUSH);
    if (full && stream.avail_out != room) return false;
    produced += room - stream.avail_out;
    if (code == Z_STREAM_END) break;
    if (code != Z_OK) return false;  // damaged, or ends early (Z_BUF_ERROR)
  }
  out->resize(produced);
  *adler = static_cast<uint32_t>(stream.adler);
  return produced == size;
}

// The data of a stored block (4 bytes of compression type, little-endian; the Adler-32 of
// the data, big-endian; the data), which must come to exactly size bytes. Null when it
// does, else what is wrong.
const char* DecodeBlock(std::string_view stored, uint64_t size, std::string* out) {
  if (stored.size() < 8) return "a block is shorter than its header";
  const auto* head = reinterpret_cast<const unsigned char*>(stored.data());
  const uint32_t type = GetLe32(head);
  const uint32_t checksum = GetBe32(head + 4);
  const std::string_view data = stored.substr(8);
  uint32_t adler = 0;
  switch (type) {
    case 0:
      if (data.size() != size) return "a stored block's size is not what the index says";
      out->assign(data);
      adler = Adler32(*out);
      break;
    case 1:
      if (!Lzo1xDecompress(data, static_cast<size_t>(size), out)) return "an LZO block is damaged";
      adler = Adler32(*out);
      break;
    case 2:
      if (!Inflate(data, static_cast<size_t>(size), out, &adler)) return "a zlib block is damaged";
      break;
    default:
      return "a block has an unknown compression type";
  }
  if (adler != checksum) return "a block's checksum does not match";
  return nullptr;
}

// The key-block index of a file with Encrypted bit 2: its bytes from the ninth on,
// enciphered with a key made from its own checksum bytes.
void DecipherKeyIndex(std::string* block) {
  if (block->size() <= 8) return;
  auto* bytes = reinterpret_cast<unsigned char*>(block->data());
  const unsigned char seed[8] = {bytes[4], bytes[5], bytes[6], bytes[7], 0x95, 0x36, 0x00, 0x00};
  const Ripemd128Digest key = Ripemd128(std::string_view(reinterpret_cast<const char*>(seed), 8));
  unsigned char previous = 0x36;
  for (size_t i = 0; i + 8 < block->size(); ++i) {
    const unsigned char c = bytes[8 + i];
    const auto swapped = static_cast<unsigned char>((c >> 4) | (c << 4));
    bytes[8 + i] = static_cast<unsigned char>(swapped ^ previous ^ (i & 0xFF) ^ key[i % 16]);
    previous = c;
  }
}

// A big-endian number of 4 or 8 bytes read from a cursor over bytes.
class CNumbers {
 public:
  CNumbers(std::string_view bytes, size_t width) : m_bytes(bytes), m_width(width) {}
  bool Number(uint64_t* value) { return Take(m_width, value); }
  bool Take(size_t width, uint64_t* value) {
    if (m_bytes.size() - m_at < width) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(m_bytes.data() + m_at);
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | at[i];
    m_at += width;
    *value = v;
    return true;
  }
  bool Skip(uint64_t count) {
    if (count > m_bytes.size() - m_at) return false;
    m_at += static_cast<size_t>(count);
    return true;
  }
  bool AtEnd() const { return m_at == m_bytes.size(); }
  size_t At() const { return m_at; }

 private:
  std::string_view m_bytes;
  size_t m_width;
  size_t m_at = 0;
};

// Text in the dictionary's encoding made into UTF-8.
class CTextDecoder {
 public:
  explicit CTextDecoder(MdictEncoding encoding) : m_encoding(encoding) {}

  // Bytes of one NUL character, which ends keys and records.
  size_t NulSize() const { return m_encoding == MdictEncoding::kUtf16 ? 2 : 1; }

  // Where the first NUL character at or after from lies (characters counted from from),
  // or npos.
  size_t FindNul(std::string_view bytes, size_t from) const {
    if (NulSize() == 1) return bytes.find('\0', from);
    for (size_t at = from; at + 1 < bytes.size(); at += 2)
      if (bytes[at] == 0 && bytes[at + 1] == 0) return at;
    return std::string_view::npos;
  }

  // bytes without the NUL characters that end them.
  std::string_view WithoutNul(std::string_view bytes) const {
    if (NulSize() == 1) {
      while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
    } else {
      bytes.remove_suffix(bytes.size() % 2);
      while (bytes.size() >= 2 && bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0)
        bytes.remove_suffix(2);
    }
    return bytes;
  }

  void Decode(std::string_view bytes, std::string* out) {
    out->clear();
    switch (m_encoding) {
      case MdictEncoding::kUtf8:
        if (IsValidUtf8(bytes))
          out->assign(bytes);
        else
          *out = SanitizeUtf8(bytes);
        return;
      case MdictEncoding::kUtf16:
        m_units.resize(bytes.size() / 2);
        DecodeUtf16Units(bytes, Utf16ByteOrder::kLittleEndian, m_units.data());
        *out = Utf16ToUtf8(m_units);
        return;
      case MdictEncoding::kGb18030:
      case MdictEncoding::kBig5:
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
          out->assign(bytes);
          return;
        }
        if (m_encoding == MdictEncoding::kGb18030 && !m_gb18030)
          *out = Gb18030ToUtf8ThroughGbk(bytes);
        else
          *out = platform::AnsiToUtf8(bytes, CodePage(m_encoding));
        return;
    }
  }

  static unsigned CodePage(MdictEncoding encoding) {
    return encoding == MdictEncoding::kBig5 ? 950 : encoding == MdictEncoding::kGb18030 ? 54936 : 0;
  }

 private:
  MdictEncoding m_encoding;
  // Whether the system converts GB18030 itself (Windows and iconv do, Wine does not).
  bool m_gb18030 = m_encoding != MdictEncoding::kGb18030 || platform::IsCodePageSupported(54936);
  std::u16string m_units;
};

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

// The facts of the header's text; a refusal for a dictionary that cannot be read.
Status TakeHeader(const std::wstring& path, std::string_view text, MdictFacts* facts) {
  // A dictionary's resource file has the same layout, with pictures and sounds for records.
  if (TrimBlanks(text).starts_with("<Library_Data"))
    return Damaged(path, "an MDict resource file (.mdd) holds no entries; convert the .mdx beside it");
  std::string encrypted;
  for (const auto& [name, value] : HeaderAttributes(text)) {
    if (SameLetters(name, "GeneratedByEngineVersion"))
      facts->engineVersion = value;
    else if (SameLetters(name, "Encrypted"))
      encrypted = value;
    else if (SameLetters(name, "Encoding"))
      facts->encodingName = value;
    else if (SameLetters(name, "Format"))
      facts->format = SameLetters(TrimBlanks(value), "Text") ? MdictFormat::kText : MdictFormat::kHtml;
    else if (SameLetters(name, "KeyCaseSensitive"))
      facts->keyCaseSensitive = SameLetters(TrimBlanks(value), "Yes");
    else if (SameLetters(name, "Title"))
      facts->title = value;
    else if (SameLetters(name, "Description"))
      facts->description = value;
    else if (SameLetters(name, "StyleSheet"))
      facts->styleSheet = value;
  }
  const std::string title = std::string(TrimBlanks(MarkupToText(facts->title)));
  facts->titleText = title == kPlaceholderTitle ? std::string() : title;

  // "2.0" as 200: digits, a point and up to two more.
  const std::string_view version = TrimBlanks(facts->engineVersion);
  const size_t point = version.find('.');
  const std::string_view whole = version.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : version.substr(point + 1);
  const auto digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || whole.size() > 3 || !digits(whole))
    return Damaged(path, "the header names no engine version");
  facts->version = static_cast<unsigned>(std::stoul(std::string(whole))) * 100;
  if (!fraction.empty() && fraction[0] >= '0' && fraction[0] <= '9')
    facts->version += (fraction[0] - '0') * 10;
  if (fraction.size() > 1 && fraction[1] >= '0' && fraction[1] <= '9') facts->version += fraction[1] - '0';

  const std::string_view enc = TrimBlanks(encrypted);
  if (SameLetters(enc, "Yes"))
    facts->encrypted = 1;
  else if (!enc.empty() && enc.size() <= 3 && digits(enc))
    facts->encrypted = std::stoi(std::string(enc));
  else if (!enc.empty() && !SameLetters(enc, "No"))
    return Damaged(path, "the header's Encrypted is not a number");

  if (facts->encrypted & 1)
    return Status::Error(StatusKind::kInputProtected, path, 0,
                         "the dictionary is locked to a registration key");
  if (facts->version >= 300)
    return Status::Error(StatusKind::kInputVersionTooNew, path, 0,
                         "MDict version " + facts->engineVersion + " is not supported");

  const std::string_view name = TrimBlanks(facts->encodingName);
  if (name.empty() || SameLetters(name, "UTF-8") || SameLetters(name, "UTF8"))
    facts->encoding = MdictEncoding::kUtf8;
  else if (SameLetters(name, "UTF-16") || SameLetters(name, "UTF16"))
    facts->encoding = MdictEncoding::kUtf16;
  else if (SameLetters(name, "GBK") || SameLetters(name, "GB2312") || SameLetters(name, "GB18030"))
    facts->encoding = MdictEncoding::kGb18030;
  else if (SameLetters(name, "Big5"))
    facts->encoding = MdictEncoding::kBig5;
  else
    return Status::Error(StatusKind::kMdictEncodingUnknown, path, 0,
                         "unknown encoding \"" + std::string(name) + "\"");
  // GB18030 falls back on GBK (936) where the system lacks it.
  const unsigned codePage =
      facts->encoding == MdictEncoding::kGb18030 && !platform::IsCodePageSupported(54936)
          ? 936
          : CTextDecoder::CodePage(facts->encoding);
  if (codePage != 0 && !platform::IsCodePageSupported(codePage))
    return Status::Error(StatusKind::kMdictEncodingUnknown, path, 0,
                         "encoding \"" + std::string(name) + "\": the system cannot read code page " +
                             std::to_string(codePage));
  return Status();
}

struct KeyBlockInfo {
  uint64_t entries, stored, size;
};

struct Key {
  uint64_t record;  // offset in the record data
  uint64_t textAt;  // of the headword in the key text
  uint32_t textSize;
};

struct RecordBlock {
  uint64_t fileOffset, stored, dataStart, dataSize;
};

// An alias noted in the first pass: its entry and its target's text.
struct Alias {
  uint32_t entry;
  uint32_t targetSize;
  uint64_t targetAt;
};

}  // namespace

struct MdictReaderState {
  std::wstring path;
  platform::CBinaryFile file;
  uint64_t fileSize = 0;
  int64_t modifiedTime = 0;
  MdictFacts facts;
  CStyleSheet styles;
  size_t numberWidth = 8;  // of the key and record sections: 8 from version 2.0, else 4
  std::string keyText;
  std::vector<Key> keys;
  std::vector<RecordBlock> blocks;
  uint64_t recordData = 0;  // the records' bytes, decompressed

  Status ReadHeader(uint64_t* end);
  Status ReadKeyCounts(uint64_t at, uint64_t numbers[5], uint64_t* end);
  Status ReadKeys(uint64_t at, const uint64_t numbers[5], uint64_t* end);
  Status ReadRecordIndex(uint64_t at);

  std::string_view Word(size_t entry) const {
    return std::string_view(keyText).substr(keys[entry].textAt, keys[entry].textSize);
  }
  uint64_t RecordEnd(size_t entry) const {
    return entry + 1 < keys.size() ? keys[entry + 1].record : recordData;
  }
};

namespace {

// The record data, read block by block in order of offsets. A block is read and
// decompressed once for the records that lie in it.
class CRecordCursor {
 public:
  CRecordCursor(platform::CBinaryFile& file, const std::wstring& path, const std::vector<RecordBlock>& blocks)
      : m_file(file), m_path(path), m_blocks(blocks) {}
  ~CRecordCursor() { StopAhead(); }
  CRecordCursor(const CRecordCursor&) = delete;
  CRecordCursor& operator=(const CRecordCursor&) = delete;

  // Adds to plan the blocks that hold the bytes [start, end) and are not in it yet.
  void PlanBlocks(uint64_t start, uint64_t end, std::vector<size_t>* plan) const {
    for (size_t block = start < end ? BlockOf(start) : m_blocks.size();
         block < m_blocks.size() && m_blocks[block].dataStart < end; ++block) {
      if (m_blocks[block].dataSize != 0 && (plan->empty() || plan->back() < block)) plan->push_back(block);
    }
  }

  // Reads and decodes the blocks of plan (in ascending order), on a thread of its own, a
  // few ahead of Get's asking for them, so that decompressing overlaps what the caller
  // makes of the records. Blocks that Get passes over are dropped; one asked for out of
  // plan ends the thread, and Get decodes each block itself again, as it does when no
  // thread can be had.
  void DecodeAhead(std::vector<size_t> plan) {
    StopAhead();
    if (plan.size() < 2) return;
    m_plan = std::move(plan);
    m_stop = m_aheadEnded = false;
    try {
      m_ahead = std::thread([this] { AheadLoop(); });
    } catch (const std::system_error&) {
    }
  }

  // The bytes [start, end) of the record data, valid until the next call; false when a
  // block they lie in is damaged, or the file cannot be read (Failure() tells).
  bool Get(uint64_t start, uint64_t end, std::string_view* bytes) {
    *bytes = {};
    if (start == end) return true;
    size_t block = BlockOf(start);
    if (block >= m_blocks.size()) return false;
    const RecordBlock* b = &m_blocks[block];
    if (end <= b->dataStart + b->dataSize) {
      if (!Load(block)) return false;
      *bytes = std::string_view(m_data).substr(static_cast<size_t>(start - b->dataStart),
                                               static_cast<size_t>(end - start));
      return true;
    }
    // A record over the end of its block goes on in the next ones.
    m_joined.clear();
    bool whole = true;
    for (; block < m_blocks.size() && start < end; ++block) {
      b = &m_blocks[block];
      const uint64_t to = std::min(end, b->dataStart + b->dataSize);
      if (to <= start) continue;
      if (!Load(block)) {
        whole = false;
        if (!m_failure.ok()) return false;
      } else if (whole) {
        m_joined.append(m_data, static_cast<size_t>(start - b->dataStart), static_cast<size_t>(to - start));
      }
      start = to;
    }
    *bytes = m_joined;
    return whole && start == end;
  }

  const Status& Failure() const { return m_failure; }

 private:
  // The first block that ends after offset.
  size_t BlockOf(uint64_t offset) const {
    if (m_loaded < m_blocks.size() && m_blocks[m_loaded].dataStart <= offset &&
        offset < m_blocks[m_loaded].dataStart + m_blocks[m_loaded].dataSize)
      return m_loaded;
    return static_cast<size_t>(
        std::upper_bound(m_blocks.begin(), m_blocks.end(), offset,
                         [](uint64_t o, const RecordBlock& b) { return o < b.dataStart + b.dataSize; }) -
        m_blocks.begin());
  }

  // A block read and decoded: ok false when it is damaged, failure set when the file
  // could not be read (or, ahead, the memory had no room for it).
  struct Decoded {
    size_t block = 0;
    bool ok = false;
    std::string data;
    Status failure;
  };

  void Decode(size_t block, std::string* stored, Decoded* out) const {
    out->block = block;
    const RecordBlock& b = m_blocks[block];
    const Status read = ReadAt(m_file, m_path, b.fileOffset, b.stored, stored);
    if (read.Kind() == StatusKind::kInputUnreadable) {
      out->failure = read;
      out->ok = false;
      return;
    }
    out->ok = read.ok() && DecodeBlock(*stored, b.dataSize, &out->data) == nullptr;
  }

  bool Load(size_t block) {
    if (block == m_loaded) return m_loadedOk;
    m_loaded = block;
    m_loadedOk = false;
    Decoded decoded;
    std::swap(decoded.data, m_data);  // its room used again
    if (!(m_ahead.joinable() && TakeAhead(block, &decoded))) {
      StopAhead();
      Decode(block, &m_stored, &decoded);
    }
    std::swap(decoded.data, m_data);
    if (!decoded.failure.ok()) m_failure = decoded.failure;
    m_loadedOk = decoded.ok && decoded.failure.ok();
    return m_loadedOk;
  }

  // The decoding thread's work: each block of the plan in turn, at most kAhead waiting.
  // Whatever goes wrong here ends the thread, and Get decodes the rest itself.
  void AheadLoop() {
    constexpr size_t kAhead = 2;
    try {
      std::string stored;
      for (const size_t block : m_plan) {
        Decoded decoded;
        try {
          Decode(block, &stored, &decoded);
        } catch (const std::bad_alloc&) {
          decoded.block = block;
          decoded.failure = Status::Error(StatusKind::kTooBig, m_path, 0, "out of memory");
        }
        const bool failed = !decoded.failure.ok();
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_stop || m_queue.size() < kAhead; });
        if (m_stop) break;
        m_queue.push_back(std::move(decoded));
        m_ready.notify_one();
        if (failed) break;
      }
    } catch (...) {
    }
    std::lock_guard lock(m_mutex);
    m_aheadEnded = true;
    m_ready.notify_one();
  }

  // The block from the decoding thread, the ones before it dropped; false when it will
  // not come (out of plan, or the thread has ended).
  bool TakeAhead(size_t block, Decoded* out) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_ready.wait(lock, [this] { return !m_queue.empty() || m_aheadEnded; });
      if (m_queue.empty() || m_queue.front().block > block) return false;
      const bool wanted = m_queue.front().block == block;
      if (wanted) *out = std::move(m_queue.front());
      m_queue.pop_front();
      m_room.notify_one();
      if (wanted) return true;
    }
  }

  void StopAhead() {
    if (!m_ahead.joinable()) return;
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_room.notify_one();
    m_ahead.join();
    m_queue.clear();
  }

  platform::CBinaryFile& m_file;
  const std::wstring& m_path;
  const std::vector<RecordBlock>& m_blocks;
  size_t m_loaded = SIZE_MAX;
  bool m_loadedOk = false;
  std::string m_stored, m_data, m_joined;
  Status m_failure;
  // Decoding ahead: the thread, the blocks it decodes, and those it has ready. While it
  // runs, it alone reads the file.
  std::thread m_ahead;
  std::vector<size_t> m_plan;
  std::mutex m_mutex;
  std::condition_variable m_ready, m_room;
  std::deque<Decoded> m_queue;
  bool m_stop = false;
  bool m_aheadEnded = false;
};

}  // namespace

Status MdictReaderState::ReadHeader(uint64_t* end) {
  std::string bytes;
  if (fileSize < 8) return Damaged(path, "too short for an MDict dictionary");
  if (Status read = ReadAt(file, path, 0, 4, &bytes); !read) return read;
  const uint64_t length = GetBe32(reinterpret_cast<const unsigned char*>(bytes.data()));
  if (length > fileSize - 8 || length > kMaxHeaderSize)
    return Damaged(path, "the header's size does not fit the file");
  if (Status read = ReadAt(file, path, 4, length + 4, &bytes); !read) return read;
  const std::string_view text(bytes.data(), static_cast<size_t>(length));
  if (Adler32(text) != GetLe32(reinterpret_cast<const unsigned char*>(bytes.data() + length)))
    return Damaged(path, "the header's checksum does not match");
  *end = 8 + length;
  // UTF-16 begins "<" 00; a header in UTF-8 (as later versions may write it) is read too,
  // so that its version is told rather than taken for damage.
  const bool utf16 = text.size() < 2 || text[1] == '\0';
  return TakeHeader(
      path, utf16 ? Utf16ToUtf8(DecodeUtf16Units(text, Utf16ByteOrder::kLittleEndian)) : SanitizeUtf8(text),
      &facts);
}

// The key section's numbers: block count, entry count, index size decompressed (from 2.0),
// index size stored, key blocks' size.
Status MdictReaderState::ReadKeyCounts(uint64_t at, uint64_t numbers[5], uint64_t* end) {
  numberWidth = facts.version >= 200 ? 8 : 4;
  const size_t count = numberWidth == 8 ? 5 : 4;
  const uint64_t size = count * numberWidth + (numberWidth == 8 ? 4 : 0);
  std::string bytes;
  if (size > fileSize - at) return Damaged(path, "the file ends inside the key section");
  if (Status read = ReadAt(file, path, at, size, &bytes); !read) return read;
  CNumbers reader(bytes, numberWidth);
  uint64_t values[5] = {};
  for (size_t i = 0; i < count; ++i) reader.Number(&values[i]);
  if (numberWidth == 8) {
    uint64_t checksum = 0;
    reader.Take(4, &checksum);
    if (Adler32(std::string_view(bytes).substr(0, 40)) != checksum)
      return Damaged(path, "the key section's checksum does not match");
    std::copy(values, values + 5, numbers);
  } else {
    numbers[0] = values[0];
    numbers[1] = values[1];
    numbers[2] = values[2];  // the index is stored as it is
    numbers[3] = values[2];
    numbers[4] = values[3];
  }
  *end = at + size;
  if (numbers[1] > std::numeric_limits<uint32_t>::max())
    return Status::Error(StatusKind::kTooBig, path, 0, "more keys than any dictionary can hold");
  return Status();
}

Status MdictReaderState::ReadKeys(uint64_t at, const uint64_t numbers[5], uint64_t* end) {
  const uint64_t blockCount = numbers[0], entryCount = numbers[1];
  const uint64_t indexStored = numbers[3], keyBlocksSize = numbers[4];
  if (indexStored > fileSize - at || keyBlocksSize > fileSize - at - indexStored)
    return Damaged(path, "the key section's sizes do not fit the file");
  std::string stored, index;
  if (Status read = ReadAt(file, path, at, indexStored, &stored); !read) return read;
  if (numberWidth == 8) {
    if (facts.encrypted & 2) DecipherKeyIndex(&stored);
    if (const char* fault = DecodeBlock(stored, numbers[2], &index))
      return Damaged(path, std::string("the key index: ") + fault);
  } else {
    if (facts.encrypted & 2) return Damaged(path, "a version 1.2 dictionary with an enciphered key index");
    index = std::move(stored);
  }

  // Per block: its entry count, its first and last keys, its sizes stored and decompressed.
  const size_t unit = facts.encoding == MdictEncoding::kUtf16 ? 2 : 1;
  const size_t keySizeWidth = numberWidth == 8 ? 2 : 1;
  const size_t terminator = numberWidth == 8 ? unit : 0;
  std::vector<KeyBlockInfo> infos;
  CNumbers reader(index, numberWidth);
  uint64_t entries = 0, storedTotal = 0;
  for (uint64_t i = 0; i < blockCount; ++i) {
    KeyBlockInfo info{};
    uint64_t firstSize = 0, lastSize = 0;
    if (!reader.Number(&info.entries) || !reader.Take(keySizeWidth, &firstSize) ||
        !reader.Skip(firstSize * unit + terminator) || !reader.Take(keySizeWidth, &lastSize) ||
        !reader.Skip(lastSize * unit + terminator) || !reader.Number(&info.stored) ||
        !reader.Number(&info.size))
      return Damaged(path, "the key index ends inside block " + std::to_string(i + 1));
    if (info.entries > entryCount - entries || info.stored > keyBlocksSize - storedTotal)
      return Damaged(path, "the key index's counts do not add up");
    entries += info.entries;
    storedTotal += info.stored;
    infos.push_back(info);
  }
  if (!reader.AtEnd() || entries != entryCount || storedTotal != keyBlocksSize)
    return Damaged(path, "the key index's counts do not add up");

  CTextDecoder decoder(facts.encoding);
  std::string block, text;
  uint64_t blockAt = at + indexStored;
  for (size_t i = 0; i < infos.size(); ++i) {
    const std::string where = "key block " + std::to_string(i + 1);
    if (Status read = ReadAt(file, path, blockAt, infos[i].stored, &stored); !read) return read;
    blockAt += infos[i].stored;
    if (const char* fault = DecodeBlock(stored, infos[i].size, &block))
      return Damaged(path, where + ": " + fault);
    // Each key: its record's offset and its text up to a NUL character.
    CNumbers keysIn(block, numberWidth);
    for (uint64_t k = 0; k < infos[i].entries; ++k) {
      Key key{};
      if (!keysIn.Number(&key.record)) return Damaged(path, where + " ends early");
      const size_t nul = decoder.FindNul(block, keysIn.At());
      if (nul == std::string::npos) return Damaged(path, where + " ends early");
      decoder.Decode(std::string_view(block).substr(keysIn.At(), nul - keysIn.At()), &text);
      const std::string_view word = TrimBlanks(text);
      if (word.size() > std::numeric_limits<uint32_t>::max())
        return Damaged(path, where + " holds an overlong key");
      key.textAt = keyText.size();
      key.textSize = static_cast<uint32_t>(word.size());
      keyText += word;
      keys.push_back(key);
      keysIn.Skip(nul - keysIn.At() + decoder.NulSize());
    }
    if (!keysIn.AtEnd()) return Damaged(path, where + " holds more than its keys");
  }
  *end = blockAt;
  return Status();
}

Status MdictReaderState::ReadRecordIndex(uint64_t at) {
  const uint64_t headerSize = 4 * numberWidth;
  std::string bytes;
  if (headerSize > fileSize - at) return Damaged(path, "the file ends before the record section");
  if (Status read = ReadAt(file, path, at, headerSize, &bytes); !read) return read;
  CNumbers header(bytes, numberWidth);
  uint64_t blockCount = 0, entryCount = 0, indexSize = 0, blocksSize = 0;
  header.Number(&blockCount), header.Number(&entryCount), header.Number(&indexSize),
      header.Number(&blocksSize);
  at += headerSize;
  if (entryCount != keys.size())
    return Damaged(path, "the record section counts other entries than the keys");
  if (indexSize > fileSize - at || blocksSize > fileSize - at - indexSize ||
      blockCount > indexSize / (2 * numberWidth) || indexSize != blockCount * 2 * numberWidth)
    return Damaged(path, "the record section's sizes do not fit the file");
  if (Status read = ReadAt(file, path, at, indexSize, &bytes); !read) return read;
  CNumbers index(bytes, numberWidth);
  uint64_t fileOffset = at + indexSize;
  const uint64_t blocksEnd = fileOffset + blocksSize;
  for (uint64_t i = 0; i < blockCount; ++i) {
    RecordBlock b{fileOffset, 0, recordData, 0};
    index.Number(&b.stored), index.Number(&b.dataSize);
    if (b.stored > blocksEnd - fileOffset ||
        b.dataSize > std::numeric_limits<uint64_t>::max() / 2 - recordData)
      return Damaged(path, "the record blocks' sizes do not add up");
    fileOffset += b.stored;
    recordData += b.dataSize;
    blocks.push_back(b);
  }
  if (fileOffset != blocksEnd) return Damaged(path, "the record blocks' sizes do not add up");
  // Each key's record runs from its offset to the next key's.
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].record > RecordEnd(i))
      return Damaged(path, "the record of key " + std::to_string(i + 1) + " lies outside the records");
  }
  return Status();
}

CMdictReader::CMdictReader() : m_state(std::make_unique<MdictReaderState>()) {}
CMdictReader::~CMdictReader() = default;

const MdictFacts& CMdictReader::Facts() const { return m_state->facts; }
uint64_t CMdictReader::EntryCount() const { return m_state->keys.size(); }
uint64_t CMdictReader::RecordSize() const { return m_state->recordData; }

bool CMdictReader::Unchanged() const {
  platform::FileStatus now;
  return m_state->file.IsOpen() && platform::QueryFileStatus(m_state->path, &now) &&
         now.size == m_state->fileSize && now.modifiedTime == m_state->modifiedTime;
}

bool IsMdictPath(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring extension = path.substr(path.size() - 4);
  for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
  return extension == L".mdx";
}

namespace {

// Opens path and reads its header and key counts into state.
Status OpenHeader(const std::wstring& path, MdictReaderState* state, uint64_t numbers[5], uint64_t* end);

bool ResourcesBeside(const std::wstring& path) {
  if (!IsMdictPath(path)) return false;
  const std::wstring base = path.substr(0, path.size() - 4);
  const bool upper = path.back() == L'X';
  return platform::PathExists(base + (upper ? L".MDD" : L".mdd")) || platform::PathExists(base + L".mdd");
}

}  // namespace

Status CMdictReader::ReadFacts(const std::wstring& path, MdictFacts* facts) {
  *facts = MdictFacts();
  try {
    MdictReaderState state;
    uint64_t numbers[5] = {}, end = 0;
    const Status read = OpenHeader(path, &state, numbers, &end);
    *facts = state.facts;
    facts->entryCount = numbers[1];
    facts->hasResourcesBeside = ResourcesBeside(path);
    return read;
  } catch (const std::bad_alloc&) {
    return Status::Error(StatusKind::kTooBig, path, 0, "out of memory");
  }
}

namespace {

Status OpenHeader(const std::wstring& path, MdictReaderState* s, uint64_t numbers[5], uint64_t* end) {
  s->path = path;
  if (Status opened = s->file.Open(path, platform::CBinaryFile::Mode::kRead); !opened)
    return opened.Kind() == StatusKind::kNotFound ? opened : opened.WithKind(StatusKind::kInputUnreadable);
  const int64_t size = s->file.Size();
  if (size < 0) return Status::Error(StatusKind::kInputUnreadable, path, 0, "its size cannot be read");
  s->fileSize = static_cast<uint64_t>(size);
  // Its time, to tell whether it is the same file when it is read again.
  platform::FileStatus status;
  if (!platform::QueryFileStatus(path, &status))
    return Status::Error(StatusKind::kInputUnreadable, path, 0, "its time cannot be read");
  s->modifiedTime = status.modifiedTime;
  uint64_t at = 0;
  if (Status read = s->ReadHeader(&at); !read) return read;
  return s->ReadKeyCounts(at, numbers, end);
}

}  // namespace

Status CMdictReader::Open(const std::wstring& path) {
  // Opening runs on the front end's thread: a dictionary too big for the memory is told
  // like one too big for a package.
  try {
    m_state = std::make_unique<MdictReaderState>();
    MdictReaderState& s = *m_state;
    uint64_t numbers[5] = {}, at = 0;
    Status result = OpenHeader(path, &s, numbers, &at);
    if (result) result = s.ReadKeys(at, numbers, &at);
    if (result) result = s.ReadRecordIndex(at);
    s.facts.entryCount = numbers[1];
    s.facts.hasResourcesBeside = ResourcesBeside(path);
    if (!result) {
      // Nothing of a refused dictionary is read, but what its header says stays known.
      MdictFacts facts = std::move(s.facts);
      m_state = std::make_unique<MdictReaderState>();
      m_state->facts = std::move(facts);
      return result;
    }
    s.styles = CStyleSheet(s.facts.styleSheet);
    return result;
  } catch (const std::bad_alloc&) {
    m_state = std::make_unique<MdictReaderState>();
    return Status::Error(StatusKind::kTooBig, path, 0, "out of memory");
  }
}

namespace {

// Finds the keys a link names: the same text first, then the same text without letter
// case where the dictionary's keys are not case-sensitive.
class CKeyFinder {
 public:
  CKeyFinder(const MdictReaderState& s, bool caseSensitive) : m_state(s), m_caseSensitive(caseSensitive) {
    for (uint32_t i = 0; i < s.keys.size(); ++i)
      if (s.keys[i].textSize != 0) m_order.push_back(i);
    std::sort(m_order.begin(), m_order.end(), [&s](uint32_t a, uint32_t b) {
      return s.Word(a) < s.Word(b) || (s.Word(a) == s.Word(b) && a < b);
    });
  }

  std::pair<const uint32_t*, const uint32_t*> Find(std::string_view target) {
    const auto exact = std::equal_range(m_order.begin(), m_order.end(), target, Less{&m_state, nullptr});
    if (exact.first != exact.second || m_caseSensitive) return Span(m_order, exact);
    if (m_folded.empty() && !m_order.empty()) Fold();
    const std::string folded = FoldCase(target);
    const auto loose = std::equal_range(m_foldedOrder.begin(), m_foldedOrder.end(), std::string_view(folded),
                                        Less{nullptr, this});
    return Span(m_foldedOrder, loose);
  }

 private:
  // Compares entries (by their words, or their folded words) with a text.
  struct Less {
    const MdictReaderState* state;
    const CKeyFinder* folded;
    std::string_view Text(uint32_t i) const { return state ? state->Word(i) : folded->FoldedWord(i); }
    bool operator()(uint32_t i, std::string_view t) const { return Text(i) < t; }
    bool operator()(std::string_view t, uint32_t i) const { return t < Text(i); }
  };

  using Range = std::pair<std::vector<uint32_t>::const_iterator, std::vector<uint32_t>::const_iterator>;
  static std::pair<const uint32_t*, const uint32_t*> Span(const std::vector<uint32_t>& v, Range r) {
    return {v.data() + (r.first - v.begin()), v.data() + (r.second - v.begin())};
  }

  void Fold() {
    m_foldedAt.assign(m_state.keys.size() + 1, 0);
    for (uint32_t i = 0; i < m_state.keys.size(); ++i) {
      m_folded += FoldCase(m_state.Word(i));
      m_foldedAt[i + 1] = m_folded.size();
    }
    m_foldedOrder = m_order;
    std::sort(m_foldedOrder.begin(), m_foldedOrder.end(), [this](uint32_t a, uint32_t b) {
      return FoldedWord(a) < FoldedWord(b) || (FoldedWord(a) == FoldedWord(b) && a < b);
    });
  }

  std::string_view FoldedWord(uint32_t i) const {
    return std::string_view(m_folded).substr(m_foldedAt[i], m_foldedAt[i + 1] - m_foldedAt[i]);
  }

  const MdictReaderState& m_state;
  bool m_caseSensitive;
  std::vector<uint32_t> m_order, m_foldedOrder;
  std::string m_folded;
  std::vector<uint64_t> m_foldedAt;
};

// One reading of the entries: a first pass over all the record blocks hands out every
// record that is no link and notes the links; then the links are followed through the keys,
// and a second pass reads only the blocks that hold their targets' records.
class CEntryReading {
 public:
  CEntryReading(MdictReaderState& s, const MdictOptions& options,
                const std::function<bool(const MdictEntry&)>& visit, const std::atomic<bool>* running)
      : m_state(s),
        m_options(options),
        m_visit(visit),
        m_running(running),
        m_cursor(s.file, s.path, s.blocks),
        m_decoder(s.facts.encoding) {}

  Status Run() {
    bool more = true;
    if (Status read = HandRecords(&more); !read || !more) return read;
    if (m_aliases.empty()) return Finish();
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // target, alias
    if (Status followed = FollowLinks(&pairs, &more); !followed || !more) return followed;
    if (Status read = HandAliases(pairs, &more); !read || !more) return read;
    return Finish();
  }

 private:
  enum Flag : uint8_t { kAlias = 1, kUnreadable = 2 };

  bool Stopped() const { return m_running && !m_running->load(std::memory_order_relaxed); }

  void Progress() {
    if (m_options.progress)
      m_options.progress(std::min<uint64_t>(m_done, m_state.keys.size()), m_state.keys.size());
  }

  Status Finish() {
    Progress();
    return Status();
  }

  // Makes room to keep explanations; none are kept when the memory has no room for them.
  void StartKeeping(size_t count) {
    try {
      NoteLargeAllocation();
      m_kept.resize(count);
    } catch (const std::bad_alloc&) {
      m_kept = {};
    }
  }

  // Keeps entry's explanation for the aliases that may lead to it, while there is room;
  // the memory having none, it keeps no more.
  void Keep(size_t entry, std::string_view explanation) {
    const uint64_t used = std::min(m_keepRoom, m_keptText.Capacity());
    if (m_kept.empty() || explanation.size() > m_keepRoom - used) return;
    try {
      uint32_t at = 0;
      if (m_keptText.Add(explanation, &at)) m_kept[entry] = {at, static_cast<uint32_t>(explanation.size()), true};
    } catch (const std::bad_alloc&) {
      m_keepRoom = 0;
    }
  }

  // Hands one entry and counts it; false when visit wants no more.
  bool Hand(uint64_t entry, std::string_view explanation, MdictProblem problem, bool link) {
    MdictEntry e;
    e.number = entry + 1;
    e.word = m_state.Word(static_cast<size_t>(entry));
    const bool told = problem == MdictProblem::kNone || problem == MdictProblem::kEmptyHeadword;
    e.explanation = told ? explanation : std::string_view();
    e.problem = problem;
    e.link = link;
    if ((++m_done & 0x3FF) == 0) Progress();
    return m_visit(e);
  }

  // The explanation a decoded record gives.
  std::string_view Explain(std::string_view record) {
    if (m_options.rawRecords) return record;
    const bool html = m_state.facts.format == MdictFormat::kHtml;
    if (!m_state.styles.Empty()) {
      m_styled.clear();
      m_state.styles.Expand(record, !html && !m_options.keepMarkup, &m_styled);
      record = m_styled;
    }
    if (!html || m_options.keepMarkup) return record;
    MarkupToText(record, &m_plain);
    return m_plain;
  }

  // Reads entry's record into m_record as UTF-8; false when its block is damaged.
  bool Record(size_t entry, Status* failure) {
    std::string_view bytes;
    const bool ok = m_cursor.Get(m_state.keys[entry].record, m_state.RecordEnd(entry), &bytes);
    *failure = m_cursor.Failure();
    if (!ok) return false;
    m_decoder.Decode(m_decoder.WithoutNul(bytes), &m_record);
    return true;
  }

  Status HandRecords(bool* more) {
    const size_t count = m_state.keys.size();
    m_flags.assign(count, 0);
    if (m_options.threads > 1 && count != 0) {
      std::vector<size_t> plan;
      m_cursor.PlanBlocks(m_state.keys[0].record, m_state.recordData, &plan);
      m_cursor.DecodeAhead(std::move(plan));
    }
    Status failure;
    for (size_t i = 0; i < count; ++i) {
      if ((i & 0xFF) == 0 && Stopped()) return Status::Error(StatusKind::kCancelled);
      const bool readable = Record(i, &failure);
      if (!failure) return failure;
      std::string_view target;
      if (!readable) {
        m_flags[i] = kUnreadable;
        *more = Hand(i, {}, MdictProblem::kUnreadable, false);
      } else if (m_state.keys[i].textSize == 0) {
        const bool link = LinkTarget(m_record, &target);
        *more = Hand(i, Explain(m_record), MdictProblem::kEmptyHeadword, link);
      } else if (!m_options.rawRecords && LinkTarget(m_record, &target)) {
        // From the first alias on, the explanations are kept for the aliases, so that
        // their records need not be read again.
        if (m_kept.empty()) StartKeeping(count);
        m_flags[i] = kAlias;
        m_aliases.push_back(
            {static_cast<uint32_t>(i), static_cast<uint32_t>(target.size()), m_targets.size()});
        m_targets += target;
      } else {
        const std::string_view explanation = Explain(m_record);
        *more = Hand(i, explanation, MdictProblem::kNone, m_options.rawRecords && LinkTarget(m_record, &target));
        Keep(i, explanation);
      }
      if (!*more) return Status();
    }
    return Status();
  }

  std::string_view TargetOf(uint32_t entry) const {
    const auto it = std::lower_bound(m_aliases.begin(), m_aliases.end(), entry,
                                     [](const Alias& a, uint32_t e) { return a.entry < e; });
    return std::string_view(m_targets).substr(static_cast<size_t>(it->targetAt), it->targetSize);
  }

  // Follows every alias to the records it leads to, in pairs of target and alias; an alias
  // that leads to none is handed with its problem here.
  Status FollowLinks(std::vector<std::pair<uint32_t, uint32_t>>* pairs, bool* more) {
    CKeyFinder finder(m_state, m_state.facts.keyCaseSensitive);
    const size_t count = m_state.keys.size();
    std::vector<uint32_t> seen(count, 0);   // the alias being followed, plus one
    std::vector<uint8_t> onPath(count, 0);  // on the path of links being followed
    struct Step {
      uint32_t entry;
      const uint32_t* next;
      const uint32_t* end;
    };
    std::vector<Step> path;
    uint64_t steps = 0;
    const uint64_t maxSteps = kLinkStepsPerKey * count + kLinkStepsBase;
    for (const Alias& alias : m_aliases) {
      if (Stopped()) return Status::Error(StatusKind::kCancelled);
      const uint32_t mark = alias.entry + 1;
      bool loop = false, unreadable = false;
      const size_t before = pairs->size();
      const auto enter = [&](uint32_t entry) {
        seen[entry] = mark;
        onPath[entry] = 1;
        const auto [first, last] = finder.Find(TargetOf(entry));
        path.push_back({entry, first, last});
      };
      enter(alias.entry);
      while (!path.empty()) {
        Step& step = path.back();
        if (step.next == step.end) {
          onPath[step.entry] = 0;
          path.pop_back();
          continue;
        }
        const uint32_t entry = *step.next++;
        if (++steps > maxSteps)
          return Damaged(m_state.path, "its links lead to more entries than can be followed");
        if (m_flags[entry] & kAlias) {
          if (seen[entry] != mark)
            enter(entry);
          else if (onPath[entry])
            loop = true;
        } else if (m_flags[entry] & kUnreadable) {
          unreadable = true;
        } else if (seen[entry] != mark) {
          seen[entry] = mark;
          pairs->push_back({entry, alias.entry});
        }
      }
      if (pairs->size() > before) continue;
      const MdictProblem problem = loop         ? MdictProblem::kLinkLoop
                                   : unreadable ? MdictProblem::kUnreadable
                                                : MdictProblem::kLinkTargetMissing;
      if (!(*more = Hand(alias.entry, {}, problem, true))) return Status();
    }
    return Status();
  }

  // Hands the aliases that lead to records, each record read once for all that lead to it.
  Status HandAliases(std::vector<std::pair<uint32_t, uint32_t>>& pairs, bool* more) {
    std::sort(pairs.begin(), pairs.end());
    if (m_options.threads > 1) {
      std::vector<size_t> plan;
      for (const auto& [target, alias] : pairs)
        if (m_kept.empty() || !m_kept[target].kept)
          m_cursor.PlanBlocks(m_state.keys[target].record, m_state.RecordEnd(target), &plan);
      m_cursor.DecodeAhead(std::move(plan));
    }
    Status failure;
    for (size_t i = 0; i < pairs.size();) {
      if (Stopped()) return Status::Error(StatusKind::kCancelled);
      const uint32_t target = pairs[i].first;
      bool readable = true;
      std::string_view explanation;
      if (!m_kept.empty() && m_kept[target].kept) {
        explanation = m_keptText.View(m_kept[target].at, m_kept[target].size);
      } else {
        readable = Record(target, &failure);
        if (!failure) return failure;
        if (readable) explanation = Explain(m_record);
      }
      for (; i < pairs.size() && pairs[i].first == target; ++i) {
        *more = Hand(pairs[i].second, explanation, readable ? MdictProblem::kNone : MdictProblem::kUnreadable,
                     true);
        if (!*more) return Status();
      }
    }
    return Status();
  }

  MdictReaderState& m_state;
  const MdictOptions& m_options;
  const std::function<bool(const MdictEntry&)>& m_visit;
  const std::atomic<bool>* m_running;
  CRecordCursor m_cursor;
  CTextDecoder m_decoder;
  std::vector<uint8_t> m_flags;
  std::vector<Alias> m_aliases;
  std::string m_targets;
  std::string m_record, m_styled, m_plain;
  uint64_t m_done = 0;
  // The explanations kept for the aliases: as much as half the records' size and a little
  // more, about all of them once HTML is made text; those that do not fit are read again.
  // The store grows as they come, never by what the file merely declares.
  struct Kept {
    uint32_t at;
    uint32_t size;
    bool kept;
  };
  std::vector<Kept> m_kept;
  CTextStore m_keptText;
  uint64_t m_keepRoom = m_state.recordData / 2 + (uint64_t{8} << 20);
};

}  // namespace

Status CMdictReader::ReadEntries(const MdictOptions& options,
                                 const std::function<bool(const MdictEntry&)>& visit,
                                 const std::atomic<bool>* running) {
  MdictReaderState& s = *m_state;
  if (!s.file.IsOpen()) return Status::Error(StatusKind::kInputUnreadable, s.path, 0, "not open");
  try {
    return CEntryReading(s, options, visit, running).Run();
  } catch (const std::bad_alloc&) {
    return Status::Error(StatusKind::kTooBig, s.path, 0, "out of memory");
  }
}
