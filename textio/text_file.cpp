#include "textio/text_file.h"

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "common/cpu_features.h"
#include "common/utf.h"
#include "platform/text_convert.h"
#include "textio/line_parse.h"
#include "textio/text_evidence.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define LUMO_LINES_AVX2 1
#endif

namespace {

constexpr unsigned char kCr = 13;
constexpr unsigned char kLf = 10;

// What a byte means to line assembly, looked up rather than tested byte by byte.
constexpr unsigned kLineEnd = 1;      // CR or LF
constexpr unsigned kHasNul = 2;       // removed from lines
constexpr unsigned kHasHighByte = 4;  // part of a multi-byte character: UTF-8 to be checked

struct ByteKinds {
  unsigned char kind[256];
};

constexpr ByteKinds MakeByteKinds() {
  ByteKinds kinds{};
  for (int b = 0x80; b < 256; ++b) kinds.kind[b] = kHasHighByte;
  kinds.kind[0] = kHasNul;
  kinds.kind[kCr] = kinds.kind[kLf] = kLineEnd;
  return kinds;
}

constexpr ByteKinds kByteKinds = MakeByteKinds();

// Eight bytes at a time: nonzero when one of them is zero (exact as a yes or no).
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline uint64_t ZeroByteFlags(uint64_t word) { return (word - kOnes) & ~word & kHighBits; }

#ifdef LUMO_LINES_AVX2
// The first CR, LF or NUL in [p, end), or end; thirty-two bytes at a time.
__attribute__((target("avx2"))) const unsigned char* FindLineStop(const unsigned char* p,
                                                                 const unsigned char* end) {
  const __m256i cr = _mm256_set1_epi8(static_cast<char>(kCr));
  const __m256i lf = _mm256_set1_epi8(static_cast<char>(kLf));
  const __m256i nul = _mm256_setzero_si256();
  for (; end - p >= 32; p += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i stops = _mm256_or_si256(
        _mm256_cmpeq_epi8(bytes, nul),
        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, cr), _mm256_cmpeq_epi8(bytes, lf)));
    if (const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(stops)); mask != 0)
      return p + std::countr_zero(mask);
  }
  while (p < end && *p != kCr && *p != kLf && *p != 0) ++p;
  return p;
}
#endif

// The end of the line that starts at p: its CR or LF, or end. Adds to *seen what the line
// holds that needs cleaning: kHasNul, and kHasHighByte, which may be left out when
// knownValid says the text is valid UTF-8. Both the file reader and CUtf8Lines cut here.
const unsigned char* FindLineEnd(const unsigned char* p, const unsigned char* end,
                                 bool knownValid, unsigned* seen) {
#ifdef LUMO_LINES_AVX2
  // In text known to be valid the high bytes need no tracking: only the stops are sought.
  if (knownValid && CpuHasAvx2()) {
    for (;;) {
      p = FindLineStop(p, end);
      if (p == end || *p != 0) return p;
      *seen |= kHasNul;
      ++p;
    }
  }
#else
  (void)knownValid;
#endif
  for (;;) {
    // Plain text goes eight bytes at a time, up to a block with a CR, LF or NUL in it.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (ZeroByteFlags(word) | ZeroByteFlags(word ^ (kOnes * kCr)) |
          ZeroByteFlags(word ^ (kOnes * kLf)))
        break;
      if (word & kHighBits) *seen |= kHasHighByte;
      p += 8;
    }
    // Then byte by byte through that block, to the line's end or the next block.
    const unsigned char* const stop = std::min(p + 8, end);
    unsigned kind = 0;
    while (p < stop && !((kind = kByteKinds.kind[*p]) & kLineEnd)) {
      *seen |= kind;
      ++p;
    }
    if (p == end || (kind & kLineEnd)) return p;
  }
}

// Cleans a line found by FindLineEnd, which reported seen: its NUL characters are
// removed and, when checkUtf8, its invalid UTF-8 sequences replaced. A line that had to
// be cleaned views *scratch afterwards.
void CleanLine(std::string_view* line, unsigned seen, bool checkUtf8, std::string* scratch,
               LineRepairs* repairs) {
  *repairs = LineRepairs();
  if (seen & kHasNul) {
    scratch->assign(*line);
    scratch->erase(std::remove(scratch->begin(), scratch->end(), '\0'), scratch->end());
    repairs->nulsDropped = static_cast<uint32_t>(line->size() - scratch->size());
    *line = *scratch;
  }
  if ((seen & kHasHighByte) && checkUtf8 && !IsValidUtf8(*line)) {
    // One U+FFFD stands for each offending byte; those already in the line are not repairs.
    constexpr std::string_view kFffd = "\xEF\xBF\xBD";
    const auto count = [kFffd](std::string_view text) {
      size_t n = 0;
      for (size_t at = text.find(kFffd); at != std::string_view::npos; at = text.find(kFffd, at + 3)) ++n;
      return n;
    };
    const size_t before = count(*line);
    *scratch = SanitizeUtf8(*line);
    *line = *scratch;
    repairs->bytesReplaced = static_cast<uint32_t>(count(*line) - before);
  }
}

// What ReadRemainderAsUtf8 writes for a lone surrogate: a byte that is no UTF-8, which
// cutting the text into lines replaces by U+FFFD and counts, as it does invalid bytes.
constexpr char kLoneSurrogate = static_cast<char>(0xFF);

constexpr uint64_t kDetectionLimit = CTextFileRead::kDetectionBytes;

// Whether bytes hold one from 0x80 on, eight at a time.
bool HasHighByte(const char* p, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & kHighBits) return true;
  }
  for (; i < size; ++i)
    if (static_cast<unsigned char>(p[i]) >= 0x80) return true;
  return false;
}

}  // namespace

// Which bytes of an ANSI code page map to characters: the bytes that stand alone, and the
// pairs that lead bytes start, found once through the system's own strict conversion. A
// line is then checked byte by byte, as the system converts it: a byte that starts nothing
// that maps is replaced, and the next byte starts afresh. Code pages of longer sequences
// (GB18030, UTF-8, ISO 2022 and the like, all from 50000 on) have each line converted.
class CAnsiMap {
 public:
  explicit CAnsiMap(unsigned codePage) : m_codePage(codePage), m_table(codePage < 50000) {
    if (!m_table) return;
    for (unsigned b = 0x80; b < 0x100; ++b) {
      const char single[1] = {static_cast<char>(b)};
      if (platform::AnsiUnmappedBytes(std::string_view(single, 1), codePage) == 0) {
        m_single.set(b);
        continue;
      }
      for (unsigned t = 1; t < 0x100; ++t) {
        const char pair[2] = {static_cast<char>(b), static_cast<char>(t)};
        if (platform::AnsiUnmappedBytes(std::string_view(pair, 2), codePage) == 0) m_pairs.set(b << 8 | t);
      }
    }
  }

  size_t Unmapped(std::string_view line) const {
    if (!m_table) return platform::AnsiUnmappedBytes(line, m_codePage);
    size_t unmapped = 0;
    for (size_t at = 0; at < line.size(); ++at) {
      const unsigned b = static_cast<unsigned char>(line[at]);
      if (b < 0x80 || m_single.test(b)) continue;
      if (at + 1 < line.size() && m_pairs.test(b << 8 | static_cast<unsigned char>(line[at + 1])))
        ++at;
      else
        ++unmapped;
    }
    return unmapped;
  }

 private:
  unsigned m_codePage;
  bool m_table;
  std::bitset<256> m_single;
  std::bitset<65536> m_pairs;
};

namespace {

// The map of a code page, made on first use and kept for the process.
const CAnsiMap& AnsiMapFor(unsigned codePage) {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<CAnsiMap>> maps;
  const std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<CAnsiMap>& map = maps[codePage];
  if (!map) map = std::make_unique<CAnsiMap>(codePage);
  return *map;
}

}  // namespace

CTextFileBase::CTextFileBase(platform::CFile* file, bool ownsFile, size_t blockSize)
    : m_file(file),
      m_ownsFile(ownsFile),
      m_endOfFile(file == nullptr || !file->IsOpen()),
      m_buffer(blockSize < 16 ? 16 : blockSize) {}

void CTextFileBase::Close() {
  if (m_ownsFile && m_file) {
    m_file->Close();
    delete m_file;
  }
  if (m_ownsFile) m_file = nullptr;
}

bool CTextFileBase::Fill() {
  if (m_bufferPos < m_bufferFill) return true;
  if (m_endOfFile || !m_file) return false;
  // A cancelled run reads no further: the file seems to end here.
  if (m_running && !m_running->load(std::memory_order_relaxed)) {
    m_endOfFile = true;
    m_bufferPos = m_bufferFill = 0;
    return false;
  }
  const std::ptrdiff_t got = m_file->Read(m_buffer.data(), m_buffer.size());
  if (got <= 0) {
    if (got < 0) m_readError = true;
    m_endOfFile = true;
    m_bufferPos = m_bufferFill = 0;
    return false;
  }
  m_bufferPos = 0;
  m_bufferFill = static_cast<size_t>(got);
  return true;
}

void CTextFileBase::Rewind() {
  if (!m_file->Seek(0)) m_readError = true;
  m_bufferPos = m_bufferFill = 0;
  m_endOfFile = m_readError;
}

CTextFileRead::CTextFileRead(platform::CFile* file, size_t blockSize,
                             const std::atomic<bool>* running,
                             std::optional<TextEncoding> encoding, unsigned codePage)
    : CTextFileBase(file, false, blockSize), m_codePage(codePage) {
  m_running = running;
  if (!m_endOfFile) DetectEncoding();
  // An encoding the user named: a mark of another encoding is text like the rest.
  if (encoding && *encoding != m_encoding && !m_endOfFile) {
    Rewind();
    m_encoding = *encoding;
    // Bytes named UTF-16 are taken for text; any other reading keeps the bytes' verdict.
    m_isText = IsUtf16(m_encoding) || !m_bytesLookBinary;
    m_sawNonAscii = !IsUtf16(m_encoding) && m_startHasHighBytes;
  }
  // From here on the file is only read forward; standard input need not keep its bytes.
  if (m_file) m_file->StopSeeking();
}

void CTextFileRead::ExamineStart(size_t skip, const std::function<void(const unsigned char*, size_t)>& add) {
  Rewind();
  for (size_t i = 0; i < skip && Fill(); ++i) ++m_bufferPos;
  uint64_t examined = 0;
  while (examined < kDetectionLimit && Fill()) {
    const size_t size = static_cast<size_t>(
        std::min<uint64_t>(m_bufferFill - m_bufferPos, kDetectionLimit - examined));
    add(m_buffer.data() + m_bufferPos, size);
    m_bufferPos += size;
    examined += size;
  }
}

void CTextFileRead::DetectEncoding() {
  // The byte-order mark, if there is one. Bytes beyond the end read as 0.
  unsigned char mark[3] = {0, 0, 0};
  for (int i = 0; i < 3 && Fill(); ++i) mark[i] = m_buffer[m_bufferPos++];
  size_t markLength = 0;
  if (mark[0] == 0xFF && mark[1] == 0xFE) {
    m_encoding = TextEncoding::Utf16LE;
    markLength = 2;
  } else if (mark[0] == 0xFE && mark[1] == 0xFF) {
    m_encoding = TextEncoding::Utf16BE;
    markLength = 2;
  } else if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
    m_encoding = TextEncoding::Utf8;
    markLength = 3;
  }

  // The start after the mark, as bytes: whether it is text, and without a mark whether it
  // is UTF-8. The whole of a list up to the limit counts, so that one stray byte near the
  // start does not outweigh all that follows, nor a few lucky pairs near the start all
  // the bytes that are no UTF-8.
  CTextEvidence bytes;
  ExamineStart(markLength, [&](const unsigned char* p, size_t size) { bytes.Add(p, size); });
  const TextEvidence& counts = bytes.Counts();
  m_bytesLookBinary = JudgedBinary(counts);
  bool utf16 = markLength == 2;
  if (markLength == 0) {
    m_encoding = JudgedUtf8(counts) ? TextEncoding::Utf8 : TextEncoding::Ansi;
    // NULs at every other byte: UTF-16 without its mark, when its code units are text.
    bool little = false;
    if (m_bytesLookBinary && Utf16OrderFromNuls(counts, &little)) {
      CUtf16Evidence units(little);
      ExamineStart(0, [&](const unsigned char* p, size_t size) { units.Add(p, size); });
      if (JudgedUtf16Text(units.Counts())) {
        m_encoding = little ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        utf16 = true;
      }
    }
  }
  // A start that could not be read whole tells nothing: the read's failure is reported.
  m_isText = utf16 || !m_bytesLookBinary || m_readError;
  // A UTF-16 file tells of its characters as its units are read.
  m_startHasHighBytes = counts.highBytes != 0;
  m_sawNonAscii = !utf16 && m_startHasHighBytes;
  Rewind();
  for (size_t i = 0; i < markLength && Fill(); ++i) ++m_bufferPos;
}

bool CTextFileRead::ReadLine(std::string& line) {
  if (m_endOfFile) return false;
  if (m_encoding == TextEncoding::Utf16LE || m_encoding == TextEncoding::Utf16BE)
    ReadLine16(line);
  else
    ReadLine8(line);
  return true;
}

void CTextFileRead::ReadLine8(std::string& line) {
  line.clear();
  if (m_pendingLf) {
    m_pendingLf = false;
    if (Fill() && m_buffer[m_bufferPos] == kLf) ++m_bufferPos;
  }
  unsigned seen = 0;  // kHasNul and kHasHighByte of the bytes collected
  m_lastLineTooLong = false;
  while (Fill()) {      // at the end of the file the line ends
    const unsigned char* const begin = m_buffer.data() + m_bufferPos;
    const unsigned char* const end = m_buffer.data() + m_bufferFill;
    const unsigned char* const p = FindLineEnd(begin, end, false, &seen);
    // A line too long to hold keeps only its start.
    const size_t room = kMaxLineBytes - std::min(line.size(), kMaxLineBytes);
    if (static_cast<size_t>(p - begin) > room) m_lastLineTooLong = true;
    line.append(reinterpret_cast<const char*>(begin), std::min<size_t>(p - begin, room));
    m_bufferPos += p - begin;
    if (p < end) {
      m_pendingLf = (*p == kCr);
      ++m_bufferPos;
      break;
    }
  }
  std::string_view cleaned = line;
  std::string scratch;
  CleanLine(&cleaned, seen, m_encoding == TextEncoding::Utf8, &scratch, &m_lastRepairs);
  if (cleaned.data() == scratch.data()) line.swap(scratch);
  if (seen & kHasHighByte) {
    m_sawNonAscii = true;
    if (m_encoding == TextEncoding::Ansi) {
      if (m_ansiMap == nullptr) m_ansiMap = &AnsiMapFor(m_codePage != 0 ? m_codePage : platform::AnsiCodePage());
      m_lastRepairs.bytesReplaced = static_cast<uint32_t>(m_ansiMap->Unmapped(line));
    }
  }
}

Utf16ByteOrder CTextFileRead::UnitOrder() const {
  return m_encoding == TextEncoding::Utf16LE ? Utf16ByteOrder::kLittleEndian
                                             : Utf16ByteOrder::kBigEndian;
}

bool CTextFileRead::ReadUnit16(char16_t* unit) {
  char bytes[2];
  for (char& b : bytes) {
    if (!Fill()) return false;  // an odd last byte is dropped with it
    b = static_cast<char>(m_buffer[m_bufferPos++]);
  }
  DecodeUtf16Units(std::string_view(bytes, 2), UnitOrder(), unit);
  return true;
}

void CTextFileRead::ReadLine16(std::string& line) {
  std::u16string units;
  char16_t unit = 0;
  bool have = ReadUnit16(&unit);
  if (m_pendingLf) {
    m_pendingLf = false;
    if (have && unit == kLf) have = ReadUnit16(&unit);
  }
  m_lastRepairs = LineRepairs();
  m_lastLineTooLong = false;
  char16_t high = 0;  // a high surrogate waiting for its partner
  while (have && unit != kCr && unit != kLf) {
    if (units.size() * 2 >= kMaxLineBytes) {
      m_lastLineTooLong = true;  // a line too long to hold keeps only its start
    } else if (unit != 0) {
      units.push_back(unit);
      // A lone surrogate, which Utf16ToUtf8 replaces, is a repair.
      const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
      if ((high != 0 && !low) || (high == 0 && low)) ++m_lastRepairs.bytesReplaced;
      high = unit >= 0xD800 && unit <= 0xDBFF ? unit : 0;
      if (unit >= 0x80) m_sawNonAscii = true;
    } else {
      ++m_lastRepairs.nulsDropped;  // dropped where it stands: a pair around it stays a pair
    }
    have = ReadUnit16(&unit);
  }
  if (high != 0) ++m_lastRepairs.bytesReplaced;
  if (have) m_pendingLf = (unit == kCr);
  if (!have) m_endOfFile = true;
  line = Utf16ToUtf8(units);
}

std::ptrdiff_t CTextFileRead::ReadRemainder(char* out, size_t size) {
  size_t total = std::min(size, m_bufferFill - m_bufferPos);
  std::memcpy(out, m_buffer.data() + m_bufferPos, total);
  m_bufferPos += total;
  // In slices, so that a cancelled run stops reading a large file within milliseconds.
  constexpr size_t kSlice = 4 << 20;
  while (total < size && !m_endOfFile) {
    if (m_running != nullptr && !m_running->load(std::memory_order_relaxed)) break;
    const std::ptrdiff_t got = m_file->Read(out + total, std::min(size - total, kSlice));
    if (got < 0) {
      m_readError = true;
      return -1;
    }
    if (got == 0) m_endOfFile = true;
    total += static_cast<size_t>(got);
  }
  // A list longer than its examined start may show more than ASCII only later.
  if (!m_sawNonAscii && !IsUtf16(m_encoding)) m_sawNonAscii = HasHighByte(out, total);
  return static_cast<std::ptrdiff_t>(total);
}

std::ptrdiff_t CTextFileRead::ReadRemainderAsUtf8(char* out, size_t maxBytes) {
  std::vector<char> block(std::min<size_t>(maxBytes, 1 << 20) + 2);
  std::vector<char16_t> units(block.size() / 2);
  char* o = out;
  size_t left = maxBytes;  // file bytes still to read
  // The odd byte at the end of the last block, and a high surrogate waiting for its
  // partner, carry over from the last call.
  size_t carried = 0;
  if (m_carriedByte >= 0) {
    block[0] = static_cast<char>(m_carriedByte);
    carried = 1;
    m_carriedByte = -1;
  }
  char32_t high = m_highSurrogate;
  for (;;) {
    const std::ptrdiff_t got =
        ReadRemainder(block.data() + carried, std::min(left, block.size() - carried));
    if (got < 0) return -1;
    left -= static_cast<size_t>(got);
    const size_t have = carried + static_cast<size_t>(got);
    const size_t count =
        DecodeUtf16Units(std::string_view(block.data(), have), UnitOrder(), units.data());
    for (size_t i = 0; i < count; ++i) {
      const char32_t unit = units[i];
      // A NUL unit is kept as a NUL byte, for the line to drop as ReadLine does (so it
      // still parts CR from LF); a surrogate pair around it is joined all the same.
      if (unit == 0) {
        *o++ = '\0';
        continue;
      }
      if (unit >= 0x80) m_sawNonAscii = true;
      const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
      if (high != 0) {
        if (low) {
          o = EncodeUtf8(o, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
          high = 0;
          continue;
        }
        *o++ = kLoneSurrogate;
        high = 0;
      }
      if (unit >= 0xD800 && unit <= 0xDBFF)
        high = unit;
      else if (low)
        *o++ = kLoneSurrogate;
      else
        o = EncodeUtf8(o, unit);
    }
    carried = have - 2 * count;
    if (carried) block[0] = block[2 * count];
    if (got == 0 || left == 0) break;
    // A cancelled run needs no more of the text.
    if (m_running != nullptr && !m_running->load(std::memory_order_relaxed)) break;
  }
  if (m_endOfFile) {
    // An odd last byte is dropped; a high surrogate without its partner is lone.
    if (high != 0) *o++ = kLoneSurrogate;
  } else {
    if (carried) m_carriedByte = static_cast<unsigned char>(block[0]);
    m_highSurrogate = high;
  }
  return o - out;
}

bool CUtf8Lines::Next(std::string_view* line, std::string* scratch) {
  if (m_next >= m_end) return false;
  const unsigned char* const begin = m_next;
  unsigned seen = 0;  // kHasNul and kHasHighByte of the line's bytes
  const unsigned char* p = FindLineEnd(begin, m_end, m_allValid, &seen);
  *line = std::string_view(reinterpret_cast<const char*>(begin), static_cast<size_t>(p - begin));
  // Past the break; a CR LF is one break.
  if (p < m_end) p += (*p == kCr && p + 1 < m_end && p[1] == kLf) ? 2 : 1;
  m_next = p;
  CleanLine(line, seen, !m_allValid, scratch, &m_repairs);
  return true;
}

size_t LineBoundaryAfter(std::string_view text, size_t at) {
  const size_t found = at < text.size() ? text.find_first_of("\r\n", at) : std::string_view::npos;
  if (found == std::string_view::npos) return text.size();
  const bool crLf = text[found] == '\r' && found + 1 < text.size() && text[found + 1] == '\n';
  return found + (crLf ? 2 : 1);
}
