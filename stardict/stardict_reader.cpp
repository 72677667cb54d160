#include "stardict/stardict_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <limits>
#include <new>
#include <vector>

#include "common/byte_order.h"
#include "common/memory_fault.h"
#include "common/utf.h"
#include "platform/file.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "textio/line_parse.h"
#include "textio/markup_text.h"

namespace {

// Bigger than any index or data a package can take; a gzip file that inflates to more is
// refused rather than held.
constexpr uint64_t kMaxInflated = uint64_t{1} << 32;

// The plain data file is read through a window of this size; entries mostly follow one
// another, so nearly every explanation is found in the window already read.
constexpr size_t kWindowSize = 1 << 20;

// An information file holds a few lines; one larger than this is no information file.
constexpr uint64_t kMaxInfoSize = 16 << 20;

constexpr std::string_view kMagic = "StarDict's dict ifo file";

Status Damaged(const std::wstring& path, const std::string& what) {
  return Status::Error(StatusKind::kInputDamaged, path, 0, what);
}

// path without ".ifo" (any case), plus tail.
std::wstring Companion(const std::wstring& ifoPath, const wchar_t* tail) {
  return ifoPath.substr(0, ifoPath.size() - 4) + tail;
}

// Opens a file for reading: a kNotFound failure when it is not there, which is asked of
// the opening itself, so that a look that failed is never taken for a missing file.
Status OpenForReading(const std::wstring& path, platform::CBinaryFile* file) {
  const Status opened = file->Open(path, platform::CBinaryFile::Mode::kRead);
  return opened.ok() || opened.Kind() == StatusKind::kNotFound
             ? opened
             : opened.WithKind(StatusKind::kInputUnreadable);
}

// The whole file; a kNotFound failure when it is not there.
Status ReadWholeFile(const std::wstring& path, std::string* bytes, uint64_t limit = kMaxInflated) {
  platform::CBinaryFile in;
  if (Status opened = OpenForReading(path, &in); !opened) return opened;
  platform::FileStatus status;
  if (platform::QueryFileStatus(path, &status) && status.size <= limit) {
    NoteLargeAllocation();
    bytes->reserve(static_cast<size_t>(status.size));
  }
  char buffer[1 << 16];
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer, sizeof buffer);
    if (got < 0) return in.Error().WithKind(StatusKind::kInputUnreadable);
    if (got == 0) return Status();
    if (bytes->size() + static_cast<size_t>(got) > limit)
      return Status::Error(StatusKind::kTooBig, path, 0, "larger than any dictionary that can be converted");
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

// A file read from start to end, as it is or, for a gzip file, inflated in pieces (its
// members one after another, as gzip writes them): never more of it in memory than a
// buffer, however much it inflates to.
class CSequentialInput {
 public:
  CSequentialInput() = default;
  CSequentialInput(const CSequentialInput&) = delete;
  CSequentialInput& operator=(const CSequentialInput&) = delete;
  ~CSequentialInput() {
    if (m_inflating) inflateEnd(&m_stream);
  }

  Status Open(const std::wstring& path, bool gzip) {
    m_path = path;
    if (Status opened = OpenForReading(path, &m_file); !opened) return opened;
    if (gzip) {
      if (inflateInit2(&m_stream, 16 + MAX_WBITS) != Z_OK) return Damaged(path, "zlib failed to start");
      m_inflating = true;
      m_input.resize(1 << 16);
    }
    return Status();
  }

  // Up to size bytes into out; 0 at the end. A failure when the file cannot be read, is
  // damaged or inflates to more than any dictionary can hold.
  Status Read(char* out, size_t size, size_t* got) {
    *got = 0;
    if (!m_inflating) {
      const std::ptrdiff_t n = m_file.Read(out, size);
      if (n < 0) return m_file.Error().WithKind(StatusKind::kInputUnreadable);
      *got = static_cast<size_t>(n);
      return Status();
    }
    m_stream.next_out = reinterpret_cast<Bytef*>(out);
    m_stream.avail_out = static_cast<uInt>(std::min<size_t>(size, UINT32_MAX));
    while (m_stream.avail_out > 0 && !m_ended) {
      if (m_stream.avail_in == 0) {
        const std::ptrdiff_t n = m_file.Read(m_input.data(), m_input.size());
        if (n < 0) return m_file.Error().WithKind(StatusKind::kInputUnreadable);
        m_stream.next_in = reinterpret_cast<Bytef*>(m_input.data());
        m_stream.avail_in = static_cast<uInt>(n);
        if (n == 0) {
          if (!m_betweenMembers) return Damaged(m_path, "the compressed file ends early");
          m_ended = true;
          break;
        }
      }
      if (m_betweenMembers) {
        inflateReset(&m_stream);  // another member follows
        m_betweenMembers = false;
      }
      const int code = inflate(&m_stream, Z_NO_FLUSH);
      if (code == Z_STREAM_END) {
        m_betweenMembers = true;
      } else if (code != Z_OK && !(code == Z_BUF_ERROR && m_stream.avail_in == 0)) {
        return Damaged(m_path, "the compressed file is damaged");
      }
    }
    *got = static_cast<size_t>(reinterpret_cast<char*>(m_stream.next_out) - out);
    m_total += *got;
    if (m_total > kMaxInflated) return Damaged(m_path, "the file inflates to more than any dictionary can hold");
    return Status();
  }

 private:
  std::wstring m_path;
  platform::CBinaryFile m_file;
  z_stream m_stream{};
  bool m_inflating = false;
  bool m_betweenMembers = false;
  bool m_ended = false;
  std::vector<char> m_input;
  uint64_t m_total = 0;
};

bool IsTextType(char type) { return type >= 'a' && type <= 'z' && type != 'r'; }

bool IsMarkupType(char type) { return type == 'g' || type == 'h' || type == 'x' || type == 'k'; }

// ---- The data file ----

class CDictData {
 public:
  virtual ~CDictData() = default;
  // The bytes [offset, offset + size); false when they are not all there.
  virtual bool Read(uint64_t offset, uint32_t size, std::string_view* bytes) = 0;
  // Bytes of the data.
  virtual uint64_t Size() const = 0;
  // Why the last Read failed when the file itself could not be read (empty otherwise).
  Status failure;
};

// An uncompressed .dict, read through a window.
class CPlainData : public CDictData {
 public:
  Status Open(const std::wstring& path) {
    if (Status opened = OpenForReading(path, &m_file); !opened) return opened;
    platform::FileStatus status;
    if (!platform::QueryFileStatus(path, &status))
      return Damaged(path, "its size cannot be read");
    m_size = status.size;
    return Status();
  }

  bool Read(uint64_t offset, uint32_t size, std::string_view* bytes) override {
    if (offset > m_size || size > m_size - offset) return false;
    if (offset < m_windowStart || offset + size > m_windowStart + m_window.size()) {
      const size_t want = std::max<size_t>(kWindowSize, size);
      m_window.resize(static_cast<size_t>(std::min<uint64_t>(want, m_size - offset)));
      m_windowStart = offset;
      size_t got = 0;
      if (!m_file.Seek(offset)) return Fail();
      while (got < m_window.size()) {
        const std::ptrdiff_t n = m_file.Read(m_window.data() + got, m_window.size() - got);
        if (n < 0) return Fail();
        if (n == 0) break;
        got += static_cast<size_t>(n);
      }
      m_window.resize(got);
      if (got < size) return false;  // the file was cut meanwhile
    }
    *bytes = std::string_view(m_window).substr(static_cast<size_t>(offset - m_windowStart), size);
    return true;
  }

  uint64_t Size() const override { return m_size; }

 private:
  bool Fail() {
    failure = m_file.Error().WithKind(StatusKind::kInputUnreadable);
    m_window.clear();
    return false;
  }

  platform::CBinaryFile m_file;
  uint64_t m_size = 0;
  uint64_t m_windowStart = 0;
  std::string m_window;
};

// A dictzip file: each chunk inflates alone, found through the table in the gzip header.
class CDictzipData : public CDictData {
 public:
  ~CDictzipData() override {
    if (m_started) inflateEnd(&m_stream);
  }

  // Reads the header; false (nothing wrong) when it has no chunk table.
  Status Open(const std::wstring& path, std::string_view head, uint64_t fileSize, bool* chunked) {
    *chunked = false;
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    if (head.size() < 10 || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8)
      return Damaged(path, "not a gzip file");
    const unsigned flags = h[3];
    size_t at = 10;
    if ((flags & 0x04) == 0) return Status();
    if (head.size() < at + 2) return Damaged(path, "the gzip header ends early");
    const size_t extraLength = h[at] | (h[at + 1] << 8);
    at += 2;
    if (head.size() < at + extraLength) return Damaged(path, "the gzip header ends early");
    const size_t extraEnd = at + extraLength;
    while (at + 4 <= extraEnd) {
      const size_t length = h[at + 2] | (h[at + 3] << 8);
      if (at + 4 + length > extraEnd) return Damaged(path, "the gzip header's extra field is damaged");
      if (h[at] == 'R' && h[at + 1] == 'A') {
        const unsigned char* ra = h + at + 4;
        if (length < 6) return Damaged(path, "the chunk table is damaged");
        m_chunkLength = ra[2] | (ra[3] << 8);
        const size_t count = ra[4] | (ra[5] << 8);
        if (ra[0] != 1 || m_chunkLength == 0 || length < 6 + 2 * count)
          return Damaged(path, "the chunk table is damaged");
        m_chunkSizes.resize(count);
        for (size_t i = 0; i < count; ++i) m_chunkSizes[i] = ra[6 + 2 * i] | (ra[7 + 2 * i] << 8);
        *chunked = true;
      }
      at += 4 + length;
    }
    if (!*chunked) return Status();
    at = extraEnd;
    for (const unsigned flag : {0x08u, 0x10u}) {  // name, comment: zero-terminated
      if ((flags & flag) == 0) continue;
      const size_t end = head.find('\0', at);
      if (end == std::string_view::npos) return Damaged(path, "the gzip header ends early");
      at = end + 1;
    }
    if (flags & 0x02) at += 2;  // header CRC
    uint64_t offset = at;
    m_chunkStarts.reserve(m_chunkSizes.size() + 1);
    for (const uint32_t size : m_chunkSizes) {
      m_chunkStarts.push_back(offset);
      offset += size;
    }
    m_chunkStarts.push_back(offset);
    if (offset > fileSize) return Damaged(path, "the chunk table does not fit the file");
    if (Status opened = m_file.Open(path, platform::CBinaryFile::Mode::kRead); !opened)
      return opened.WithKind(StatusKind::kInputUnreadable);
    if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) return Damaged(path, "zlib failed to start");
    m_started = true;
    return Status();
  }

  uint64_t Size() const override { return uint64_t{m_chunkLength} * m_chunkSizes.size(); }

  bool Read(uint64_t offset, uint32_t size, std::string_view* bytes) override {
    const uint64_t total = Size();
    if (offset > total || size > total - offset) return false;
    const size_t first = static_cast<size_t>(offset / m_chunkLength);
    const size_t within = static_cast<size_t>(offset % m_chunkLength);
    if (within + size <= m_chunkLength) {
      // Inside one chunk: a view of the cached chunk.
      if (!Load(first)) return false;
      if (within + size > m_chunk.size()) return false;
      *bytes = std::string_view(m_chunk).substr(within, size);
      return true;
    }
    m_joined.clear();
    for (size_t chunk = first; m_joined.size() < size; ++chunk) {
      if (!Load(chunk)) return false;
      const size_t from = chunk == first ? within : 0;
      if (from >= m_chunk.size()) return false;
      m_joined.append(m_chunk, from, std::min<size_t>(m_chunk.size() - from, size - m_joined.size()));
    }
    *bytes = m_joined;
    return true;
  }

 private:
  bool Load(size_t chunk) {
    if (chunk == m_loaded) return true;
    if (chunk >= m_chunkSizes.size()) return false;
    m_loaded = SIZE_MAX;
    m_compressed.resize(m_chunkSizes[chunk]);
    if (!m_file.Seek(m_chunkStarts[chunk])) return Fail();
    size_t got = 0;
    while (got < m_compressed.size()) {
      const std::ptrdiff_t n = m_file.Read(m_compressed.data() + got, m_compressed.size() - got);
      if (n < 0) return Fail();
      if (n == 0) return false;
      got += static_cast<size_t>(n);
    }
    m_chunk.resize(m_chunkLength);
    inflateReset(&m_stream);
    m_stream.next_in = reinterpret_cast<Bytef*>(m_compressed.data());
    m_stream.avail_in = static_cast<uInt>(m_compressed.size());
    m_stream.next_out = reinterpret_cast<Bytef*>(m_chunk.data());
    m_stream.avail_out = static_cast<uInt>(m_chunk.size());
    const int code = inflate(&m_stream, Z_SYNC_FLUSH);
    if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) return false;
    m_chunk.resize(m_chunk.size() - m_stream.avail_out);
    m_loaded = chunk;
    return true;
  }

  bool Fail() {
    failure = m_file.Error().WithKind(StatusKind::kInputUnreadable);
    return false;
  }

  platform::CBinaryFile m_file;
  z_stream m_stream{};
  bool m_started = false;
  uint32_t m_chunkLength = 0;
  std::vector<uint32_t> m_chunkSizes;
  std::vector<uint64_t> m_chunkStarts;
  std::vector<char> m_compressed;
  std::string m_chunk;
  size_t m_loaded = SIZE_MAX;
  std::string m_joined;
};

// ---- The information file ----

Status ParseInfo(const std::wstring& path, std::string_view text, StarDictFacts* facts,
                 uint64_t* wordCount, uint64_t* synonymCount) {
  text = text.substr(0, text.find('\0'));
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  bool magic = false;
  bool haveWordCount = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!magic) {
      if (line != kMagic) return Damaged(path, "not a StarDict information file");
      magic = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    const auto number = [&value](uint64_t* out) {
      uint64_t n = 0;
      if (value.empty() || value.size() > 19) return false;
      for (char c : value) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
      }
      *out = n;
      return true;
    };
    if (key == "version") facts->formatVersion = value;
    else if (key == "bookname") facts->bookName = value;
    else if (key == "author") facts->author = value;
    else if (key == "date") facts->date = value;
    else if (key == "description") facts->description = value;
    else if (key == "sametypesequence") facts->sameTypeSequence = value;
    else if (key == "wordcount") haveWordCount = number(wordCount);
    else if (key == "synwordcount") number(synonymCount);
    else if (key == "idxoffsetbits") {
      if (value != "32" && value != "64") return Damaged(path, "idxoffsetbits is neither 32 nor 64");
      facts->offsetBits = value == "64" ? 64 : 32;
    }
  }
  if (!magic) return Damaged(path, "not a StarDict information file");
  if (facts->formatVersion != "2.4.2" && facts->formatVersion != "3.0.0")
    return Damaged(path, "version " + facts->formatVersion + " is not supported");
  if (facts->formatVersion == "2.4.2" && facts->offsetBits == 64)
    return Damaged(path, "64-bit offsets need version 3.0.0");
  if (!haveWordCount) return Damaged(path, "no wordcount");
  for (char type : facts->sameTypeSequence)
    if (!((type >= 'a' && type <= 'z') || (type >= 'A' && type <= 'Z')))
      return Damaged(path, "sametypesequence holds something other than type letters");
  return Status();
}

// Where an entry's data lies in the data file.
struct IndexRecord {
  uint64_t offset = 0;
  uint32_t size = 0;
};

// A headword longer than this is no headword: reading stops there rather than hold it.
constexpr size_t kMaxHeadword = size_t{16} << 20;

// The index's records one after another, read from the file as they are needed.
class CIndexStream {
 public:
  CIndexStream(CSequentialInput& input, const std::wstring& path, int offsetBits)
      : m_input(input), m_path(path), m_offsetBytes(offsetBits == 64 ? 8 : 4) {}

  // The next record; false at the end of the index or on a failure (then in *failure).
  bool Next(std::string_view* word, IndexRecord* record, Status* failure) {
    const size_t recordEnd = m_offsetBytes + 4;
    size_t from = m_at;  // the record's bytes before this hold no zero byte
    for (;;) {
      const size_t end = m_buffer.find('\0', from);
      if (end != std::string::npos && m_buffer.size() - end - 1 >= recordEnd) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.data()) + end + 1;
        *word = std::string_view(m_buffer).substr(m_at, end - m_at);
        record->offset = m_offsetBytes == 8 ? GetBe64(bytes) : GetBe32(bytes);
        record->size = GetBe32(bytes + m_offsetBytes);
        m_at = end + 1 + recordEnd;
        ++m_count;
        return true;
      }
      if (end == std::string::npos && m_buffer.size() - m_at > kMaxHeadword) {
        *failure = Damaged(m_path, "the headword of record " + std::to_string(m_count + 1) + " is longer than 16 MiB");
        return false;
      }
      from = end == std::string::npos ? m_buffer.size() : end;
      // Reading more moves the record to the front of the buffer.
      const size_t shift = m_at;
      const size_t had = m_buffer.size() - shift;
      if (!More(failure)) return false;
      from -= shift;
      if (m_buffer.size() == had) {  // the end of the index
        if (m_at < m_buffer.size())
          *failure = Damaged(m_path, "the index ends inside record " + std::to_string(m_count + 1));
        return false;
      }
    }
  }

  uint64_t Count() const { return m_count; }

 private:
  // Reads more of the index after what is left of the buffer (views of it end here).
  bool More(Status* failure) {
    m_buffer.erase(0, m_at);
    m_at = 0;
    const size_t had = m_buffer.size();
    m_buffer.resize(had + kPiece);
    size_t got = 0;
    *failure = m_input.Read(m_buffer.data() + had, kPiece, &got);
    m_buffer.resize(had + got);
    return failure->ok();
  }

  static constexpr size_t kPiece = size_t{1} << 16;

  CSequentialInput& m_input;
  const std::wstring& m_path;
  const size_t m_offsetBytes;
  std::string m_buffer;
  size_t m_at = 0;
  uint64_t m_count = 0;
};

}  // namespace

struct CStarDictReader::State {
  StarDictFacts facts;
  std::wstring ifoPath, idxPath, synPath, dataPath;
  bool idxGzipped = false;
  // The data is a gzip file without a chunk table: it is inflated into a scratch file
  // before it is read.
  bool dataNeedsInflating = false;
  uint64_t wordCount = 0;  // as the .ifo says
  uint64_t idxTextSize = 0;  // bytes of the index, inflated
  std::string synonyms;
  uint64_t synonymCount = 0;
  std::unique_ptr<CDictData> data;
  // The scratch file of inflated data, ours to delete.
  std::wstring scratchPath;
  // Sizes and times of the files as they were opened.
  std::vector<std::pair<std::wstring, platform::FileStatus>> files;
  // Scratch for one entry's explanation.
  std::string text;
  std::string field;

  ~State() { DropScratch(); }
  Status LoadSynonyms();
  Status OpenData();
  // Inflates the data into a scratch file in folder and reads it from there.
  Status InflateData(const std::wstring& folder, const std::atomic<bool>* running);
  // False when the scratch file could not be removed.
  bool DropScratch();
  void NoteFile(const std::wstring& path);
  // The explanation of record i in text (or a view of the data); false when its data is
  // not there or its fields are damaged.
  bool Explain(const IndexRecord& record, const StarDictOptions& options,
               std::string_view* explanation, uint32_t* binaryFields);
};

CStarDictReader::CStarDictReader() : m_state(std::make_unique<State>()) {}
CStarDictReader::~CStarDictReader() = default;

const StarDictFacts& CStarDictReader::Facts() const { return m_state->facts; }
uint64_t CStarDictReader::WordCount() const { return m_state->wordCount; }
uint64_t CStarDictReader::SynonymCount() const { return m_state->synonymCount; }

bool IsStarDictPath(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring extension = path.substr(path.size() - 4);
  for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
  return extension == L".ifo";
}

Status CStarDictReader::ReadFacts(const std::wstring& ifoPath, StarDictFacts* facts) {
  *facts = StarDictFacts();
  try {
    std::string info;
    if (Status read = ReadWholeFile(ifoPath, &info, kMaxInfoSize); !read) return read;
    return ParseInfo(ifoPath, info, facts, &facts->wordCount, &facts->synonymCount);
  } catch (const std::bad_alloc&) {
    return Status::Error(StatusKind::kTooBig, ifoPath, 0, "out of memory");
  }
}

Status CStarDictReader::Open(const std::wstring& ifoPath) {
  // Opening runs on the front end's thread: a dictionary too big for the memory is told
  // like one too big for a package.
  try {
    return OpenFiles(ifoPath);
  } catch (const std::bad_alloc&) {
    m_state = std::make_unique<State>();
    return Status::Error(StatusKind::kTooBig, ifoPath, 0, "out of memory");
  }
}

// Opening reads the .ifo and the synonyms and looks at the other files; the index and the
// data are read as the entries are, on the thread that converts.
Status CStarDictReader::OpenFiles(const std::wstring& ifoPath) {
  m_state = std::make_unique<State>();
  State& s = *m_state;
  if (!IsStarDictPath(ifoPath)) return Damaged(ifoPath, "not an .ifo file");
  s.ifoPath = ifoPath;
  std::string info;
  if (Status read = ReadWholeFile(ifoPath, &info, kMaxInfoSize); !read) return read;
  uint64_t synonymCount = 0;
  if (Status parsed = ParseInfo(ifoPath, info, &s.facts, &s.wordCount, &synonymCount); !parsed)
    return parsed;
  s.idxPath = Companion(ifoPath, L".idx");
  platform::CBinaryFile probe;
  Status found = OpenForReading(s.idxPath, &probe);
  if (found.Kind() == StatusKind::kNotFound) {
    s.idxPath += L".gz";
    s.idxGzipped = true;
    found = OpenForReading(s.idxPath, &probe);
    if (found.Kind() == StatusKind::kNotFound) return Damaged(ifoPath, "there is no .idx or .idx.gz beside it");
  }
  if (!found) return found;
  s.NoteFile(s.idxPath);
  s.idxTextSize = s.files.back().second.size;
  // A gzip file's last four bytes tell what it inflates to (of its last member, modulo
  // 4 GiB): enough to share memory by.
  unsigned char tail[4];
  if (s.idxGzipped && s.idxTextSize >= 4 && probe.Seek(s.idxTextSize - 4) && probe.Read(tail, 4) == 4)
    s.idxTextSize = GetLe32(tail);
  probe.Close();
  if (Status loaded = s.LoadSynonyms(); !loaded) return loaded;
  return s.OpenData();
}

void CStarDictReader::State::NoteFile(const std::wstring& path) {
  platform::FileStatus status;
  platform::QueryFileStatus(path, &status);
  files.emplace_back(path, status);
}

bool CStarDictReader::Unchanged() const {
  for (const auto& [path, then] : m_state->files) {
    platform::FileStatus now;
    if (!platform::QueryFileStatus(path, &now) || now.size != then.size || now.modifiedTime != then.modifiedTime)
      return false;
  }
  return true;
}

bool CStarDictReader::Close() { return m_state->DropScratch(); }

uint64_t CStarDictReader::TextSize() const {
  return m_state->idxTextSize + m_state->synonyms.size() + (m_state->data ? m_state->data->Size() : 0);
}

Status CStarDictReader::State::LoadSynonyms() {
  synPath = Companion(ifoPath, L".syn");
  if (Status read = ReadWholeFile(synPath, &synonyms); !read)
    return read.Kind() == StatusKind::kNotFound ? Status() : read;
  NoteFile(synPath);
  for (size_t at = 0; at < synonyms.size(); ++synonymCount) {
    const size_t end = synonyms.find('\0', at);
    if (end == std::string::npos || synonyms.size() - end - 1 < 4)
      return Damaged(synPath, "the synonym file ends inside record " + std::to_string(synonymCount + 1));
    at = end + 5;
  }
  return Status();
}

Status CStarDictReader::State::OpenData() {
  const std::wstring plain = Companion(ifoPath, L".dict");
  auto file = std::make_unique<CPlainData>();
  const Status openedPlain = file->Open(plain);
  if (openedPlain.Kind() != StatusKind::kNotFound) {
    if (!openedPlain) return openedPlain;
    data = std::move(file);
    dataPath = plain;
    NoteFile(plain);
    return Status();
  }
  const std::wstring dz = plain + L".dz";
  platform::CBinaryFile in;
  if (Status opened = OpenForReading(dz, &in); !opened) {
    return opened.Kind() == StatusKind::kNotFound
               ? Damaged(ifoPath, "there is no .dict or .dict.dz beside it")
               : opened;
  }
  dataPath = dz;
  NoteFile(dz);
  // The header with its chunk table: at most 10 + 2 + 65535 bytes and the names after it.
  std::string head(1 << 18, '\0');
  const std::ptrdiff_t got = in.Read(head.data(), head.size());
  if (got < 0) return in.Error().WithKind(StatusKind::kInputUnreadable);
  head.resize(static_cast<size_t>(got));
  in.Close();
  platform::FileStatus status;
  if (!platform::QueryFileStatus(dz, &status)) return Damaged(dz, "its size cannot be read");
  auto chunked = std::make_unique<CDictzipData>();
  bool hasTable = false;
  if (Status opened = chunked->Open(dz, head, status.size, &hasTable); !opened) return opened;
  if (hasTable) {
    data = std::move(chunked);
    return Status();
  }
  dataNeedsInflating = true;
  return Status();
}

Status CStarDictReader::State::InflateData(const std::wstring& folder, const std::atomic<bool>* running) {
  CSequentialInput in;
  if (Status opened = in.Open(dataPath, true); !opened) return opened;
  platform::CBinaryFile out;
  std::vector<std::wstring> paths;
  const std::wstring_view extension = L".dict";
  // Beside the dictionary when no folder is named.
  std::wstring stem = folder;
  if (stem.empty()) {
    const size_t cut = ifoPath.find_last_of(platform::kPathSeparator == L'/' ? L"/" : L"\\/");
    stem = cut == std::wstring::npos ? L"." : ifoPath.substr(0, cut);
  }
  stem = stem + platform::kPathSeparator + kTempBaseName;
  if (Status created = CreateExclusiveFiles(stem, {&extension, 1}, {&out, 1}, &paths); !created)
    return created.WithKind(StatusKind::kWriteFailed);
  scratchPath = paths[0];
  std::vector<char> buffer(1 << 20);
  for (;;) {
    if (running != nullptr && !running->load(std::memory_order_relaxed)) break;
    size_t got = 0;
    if (Status read = in.Read(buffer.data(), buffer.size(), &got); !read) return read;
    if (got == 0) break;
    if (!out.Write(buffer.data(), got)) break;  // Close reports it
  }
  if (Status closed = out.Close(); !closed) return closed.WithKind(StatusKind::kWriteFailed);
  auto plain = std::make_unique<CPlainData>();
  if (Status opened = plain->Open(scratchPath); !opened) return opened.WithKind(StatusKind::kWriteFailed);
  data = std::move(plain);
  return Status();
}

bool CStarDictReader::State::DropScratch() {
  if (scratchPath.empty()) return true;
  data.reset();
  const bool removed = platform::RemoveFile(scratchPath).ok();
  scratchPath.clear();
  return removed;
}

bool CStarDictReader::State::Explain(const IndexRecord& record, const StarDictOptions& options,
                                     std::string_view* explanation, uint32_t* binaryFields) {
  std::string_view bytes;
  if (!data->Read(record.offset, record.size, &bytes)) return false;
  *binaryFields = 0;
  const std::string_view types = facts.sameTypeSequence;
  // The common case, one plain text field: the data itself.
  if (types.size() == 1 && IsTextType(types[0]) && types[0] != 'l' &&
      (options.keepMarkup || !IsMarkupType(types[0]))) {
    *explanation = bytes;
    return true;
  }
  text.clear();
  const auto add = [&](char type, std::string_view value) {
    if (!IsTextType(type)) {
      ++*binaryFields;
      return;
    }
    if (!text.empty()) text.push_back('\n');
    if (type == 'l') {
      AnsiToUtf8(value, &field, options.codePage);
      text += field;
    } else if (IsMarkupType(type) && !options.keepMarkup) {
      text += MarkupToText(value);
    } else {
      text += value;
    }
  };
  // Each field: a text up to its zero byte, or a binary field after its big-endian size;
  // with a type sequence the types are not stored, and the last field runs to the end.
  const auto take = [&bytes](char type, bool last, std::string_view* value) {
    if (last) {
      *value = bytes;
      bytes = {};
      return true;
    }
    if (type >= 'a' && type <= 'z') {
      const size_t end = bytes.find('\0');
      if (end == std::string_view::npos) return false;
      *value = bytes.substr(0, end);
      bytes.remove_prefix(end + 1);
      return true;
    }
    if (bytes.size() < 4) return false;
    const uint32_t size = GetBe32(reinterpret_cast<const unsigned char*>(bytes.data()));
    if (size > bytes.size() - 4) return false;
    *value = bytes.substr(4, size);
    bytes.remove_prefix(4 + size);
    return true;
  };
  std::string_view value;
  if (!types.empty()) {
    for (size_t i = 0; i < types.size(); ++i) {
      if (!take(types[i], i + 1 == types.size(), &value)) return false;
      add(types[i], value);
    }
  } else {
    while (!bytes.empty()) {
      const char type = bytes[0];
      bytes.remove_prefix(1);
      if (!((type >= 'a' && type <= 'z') || (type >= 'A' && type <= 'Z'))) return false;
      // Without a type sequence a text field's zero byte may be missing at the very end.
      if (type >= 'a' && type <= 'z' && bytes.find('\0') == std::string_view::npos) {
        add(type, bytes);
        break;
      }
      if (!take(type, false, &value)) return false;
      add(type, value);
    }
  }
  *explanation = text;
  return true;
}

Status CStarDictReader::ReadEntries(const StarDictOptions& options,
                                    const std::function<bool(const StarDictEntry&)>& visit,
                                    const std::atomic<bool>* running) {
  State& s = *m_state;
  if (!s.data && !s.dataNeedsInflating) return Status::Error(StatusKind::kInputUnreadable, {}, 0, "not open");
  if (!s.data)
    if (Status inflated = s.InflateData(options.scratchFolder, running); !inflated) return inflated;
  if (running != nullptr && !running->load(std::memory_order_relaxed)) return Status();
  const auto explain = [&](const IndexRecord& record, StarDictEntry* entry) {
    entry->unreadable = !s.Explain(record, options, &entry->explanation, &entry->binaryFields);
    if (entry->unreadable) entry->explanation = {};
    return s.data->failure;
  };
  // The synonyms' targets, in order, with their places in the data once the index has
  // passed them: only these records are kept.
  const auto* syn = reinterpret_cast<const unsigned char*>(s.synonyms.data());
  std::vector<uint32_t> targets;
  for (size_t at = 0; at < s.synonyms.size();) {
    const size_t end = s.synonyms.find('\0', at);
    targets.push_back(GetBe32(syn + end + 1));
    at = end + 5;
  }
  std::sort(targets.begin(), targets.end());
  targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
  std::vector<IndexRecord> targetRecords(targets.size());
  size_t nextTarget = 0;

  CSequentialInput input;
  if (Status opened = input.Open(s.idxPath, s.idxGzipped); !opened) return opened;
  CIndexStream index(input, s.idxPath, s.facts.offsetBits);
  Status failure;
  StarDictEntry entry;
  IndexRecord record;
  while (index.Next(&entry.word, &record, &failure)) {
    const uint64_t i = index.Count() - 1;
    while (nextTarget < targets.size() && targets[nextTarget] < i) ++nextTarget;
    if (nextTarget < targets.size() && targets[nextTarget] == i) targetRecords[nextTarget] = record;
    entry.number = i + 1;
    if (Status failed = explain(record, &entry); !failed) return failed;
    if (!visit(entry)) return Status();
  }
  if (!failure) return failure;
  const uint64_t records = index.Count();
  uint64_t number = 0;
  for (size_t at = 0; at < s.synonyms.size();) {
    const size_t end = s.synonyms.find('\0', at);
    entry = StarDictEntry();
    entry.number = ++number;
    entry.synonym = true;
    entry.word = std::string_view(s.synonyms).substr(at, end - at);
    const uint32_t target = GetBe32(syn + end + 1);
    at = end + 5;
    if (target >= records) {
      entry.unreadable = true;
    } else {
      const size_t k = static_cast<size_t>(std::lower_bound(targets.begin(), targets.end(), target) - targets.begin());
      if (Status failed = explain(targetRecords[k], &entry); !failed) return failed;
    }
    if (!visit(entry)) return Status();
  }
  return Status();
}
