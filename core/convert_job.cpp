#include "core/convert_job.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "common/utf.h"
#include "core/entry_order.h"
#include "core/line_parse.h"
#include "package/dictzip.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "textio/text_file.h"

namespace {

// The index is addressed with unsigned 32-bit offsets inside the package, behind the
// header and a metadata block the job does not know yet; keep a generous margin for it.
constexpr uint64_t kMaxIndexSize = 0xFFFFFFFFull - (1u << 20);

// Entries read before the list is sized for the whole file.
constexpr size_t kEstimateAfter = 4096;

// The data file is written through a buffer of this size.
constexpr size_t kWriteBufferSize = 1 << 20;

// Seconds since start; restarts the clock.
double Lap(std::chrono::steady_clock::time_point* start) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - *start).count();
  *start = now;
  return seconds;
}

}  // namespace

CConvertJob::CConvertJob() : CConvertJob(platform::CurrentDirectory()) {}

CConvertJob::CConvertJob(std::wstring folder) : m_curDir(std::move(folder)) {
  // Plain concatenation: a root folder gives two separators in a row, which the file
  // functions accept.
  const std::wstring base = m_curDir + platform::kPathSeparator + kTempBaseName;
  m_desPath = base + kDataExtension;
  m_dzPath = base + kCompressedExtension;
}

void CConvertJob::OpenInput(const std::wstring& path) {
  m_inputOpened = m_inputFile.Open(path);
  platform::FileStatus status;
  if (m_inputOpened && platform::QueryFileStatus(path, &status)) m_inputSize = status.size;
}

void CConvertJob::Progress(int percent) {
  if (m_observer) m_observer->OnConvertProgress(percent);
}

bool CConvertJob::Fail(ConvertOutcome outcome, bool tellUser) {
  m_outcome = outcome;
  if (tellUser && m_observer) {
    switch (outcome) {
      case ConvertOutcome::kInputUnreadable:
        m_observer->OnConvertWarning(UserMessage::kInputOpenFailed);
        break;
      case ConvertOutcome::kTooBig:
        m_observer->OnConvertWarning(UserMessage::kWordListTooBig);
        break;
      default:
        m_observer->OnConvertWarning(UserMessage::kConvertFailed);
        break;
    }
  }
  return false;
}

bool CConvertJob::Convert() {
  if (!m_inputOpened || !m_inputFile.IsOpen()) return Fail(ConvertOutcome::kInputUnreadable, true);
  auto start = std::chrono::steady_clock::now();
  const bool read = ReadWordList();
  m_times.read = Lap(&start);
  if (!read) return false;
  // A cancel while the lines were read ends the run here, before anything is written.
  if (!m_running) return Fail(ConvertOutcome::kCancelled, false);
  return WriteOutput();
}

// Once the first lines have shown how long a line is, the list is given room for the whole
// file at once: growing it by doubling would hold two copies at the end.
void CConvertJob::ReserveForWholeFile(uint64_t bytesRead) {
  if (bytesRead == 0 || m_inputSize <= bytesRead) return;
  const double perEntry = static_cast<double>(bytesRead) / static_cast<double>(m_entries.size());
  const double estimate = static_cast<double>(m_inputSize) / perEntry * 1.05 + 1024;
  if (estimate < 1e9) m_entries.reserve(static_cast<size_t>(estimate));
}

bool CConvertJob::ReadWordList() {
  CTextFileRead reader(&m_inputFile);
  const bool utf8Lines = reader.LinesAreUtf8();
  uint64_t indexSize = 0;
  uint64_t dataSize = 0;
  bool tooBig = false;

  std::string line;
  std::string word;
  std::string explanation;
  uint64_t bytesRead = 0;
  while (m_running && !reader.IsEndOfFile()) {
    if (!reader.ReadLine(line)) break;
    bytesRead += line.size() + 1;
    LineFields fields;
    if (!SplitLine(line, &fields)) continue;
    // A line without a headword has nothing to index.
    if (fields.first.empty()) continue;

    DictEntry entry;
    if (utf8Lines) {
      entry.word = m_text.Store(TrimFieldChars(fields.first));
      entry.explanation = m_text.Store(TrimFieldChars(fields.second));
    } else {
      if (!AnsiToUtf8(fields.first, &word)) continue;
      AnsiToUtf8(fields.second, &explanation);  // an empty explanation stays empty
      entry.word = m_text.Store(TrimFieldChars(word));
      entry.explanation = m_text.Store(TrimFieldChars(explanation));
    }
    indexSize += entry.word.size() + 9;
    dataSize += entry.explanation.size();
    if (indexSize > kMaxIndexSize || dataSize > kMaxCompressibleSize) {
      tooBig = true;
      break;
    }
    entry.size = static_cast<uint32_t>(entry.explanation.size());
    if (m_entries.size() == kEstimateAfter) ReserveForWholeFile(bytesRead);
    m_entries.push_back(entry);
  }
  const bool readError = reader.HadReadError();
  reader.Close();
  m_inputFile.Close();

  if (tooBig) return Fail(ConvertOutcome::kTooBig, true);
  if (readError) return Fail(ConvertOutcome::kInputUnreadable, true);
  m_indexSize = static_cast<uint32_t>(indexSize);
  m_dataSize = static_cast<uint32_t>(dataSize);
  return true;
}

bool CConvertJob::WriteOutput() {
  auto start = std::chrono::steady_clock::now();
  SortEntries(&m_entries, m_threads);
  AssignOffsets(&m_entries);
  m_times.sort = Lap(&start);
  Progress(30);

  platform::CBinaryFile data;
  if (!data.Open(m_desPath, platform::CBinaryFile::Mode::kCreateWrite))
    return Fail(ConvertOutcome::kWriteFailed, true);
  std::string buffer;
  buffer.reserve(kWriteBufferSize);
  bool written = true;
  for (const DictEntry& e : m_entries) {
    if (buffer.size() + e.explanation.size() > kWriteBufferSize) {
      written = written && data.Write(buffer.data(), buffer.size());
      buffer.clear();
    }
    if (e.explanation.size() > kWriteBufferSize)
      written = written && data.Write(e.explanation.data(), e.explanation.size());
    else
      buffer += e.explanation;
  }
  written = written && data.Write(buffer.data(), buffer.size());
  Progress(50);
  written = data.Close() && written;
  m_times.writeData = Lap(&start);
  if (!written) return Fail(ConvertOutcome::kWriteFailed, true);

  if (m_compress) {
    if (!CompressDataFile(m_desPath, m_dzPath, m_threads))
      return Fail(ConvertOutcome::kWriteFailed, true);
    platform::FileStatus status;
    if (!platform::QueryFileStatus(m_dzPath, &status) ||
        status.size > std::numeric_limits<uint32_t>::max())
      return Fail(ConvertOutcome::kWriteFailed, true);
    m_compressedSize = static_cast<uint32_t>(status.size);
    m_times.compress = Lap(&start);
  }
  Progress(80);
  m_outcome = ConvertOutcome::kSuccess;
  return true;
}

unsigned long ConvertThreadProc(void* param) {
  CConvertJob* job = static_cast<CConvertJob*>(param);
  const bool ok = job->Convert();
  if (IConvertObserver* observer = job->Observer()) observer->OnConvertDone(ok, job);
  return 0;
}
