#include "mdict/mdict_source.h"

#include "mdict/mdict_reader.h"

namespace {

class CMdictSource final : public IEntrySource {
 public:
  CMdictSource(const std::wstring& path, const MdictSourceOptions& options)
      : m_options(options), m_opened(m_reader.Open(path)), m_path(path) {}

  const Status& Opened() const override { return m_opened; }
  std::wstring Path() const override { return m_path; }
  // The records as they decompress: HTML made text is smaller, so the explanations fit
  // the job's share of memory; style sheets expanded may make them larger, and the
  // dictionary is then read again for each window of the data file.
  uint64_t Size() const override { return m_reader.RecordSize(); }
  // Every reading decompresses the record blocks anew, in the same order.
  bool CanReadAgain() const override { return true; }

  Status Read(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    if (!m_opened) return m_opened;
    report->SetEncoding(TextEncoding::Utf8);
    report->SetCountsEntries();
    if (m_reader.Facts().hasResourcesBeside) report->LeaveOutResources();
    Status read = ReadInto(sink, report, how);
    // The aliases come after the other entries; the report lists all by number.
    report->SortByNumber();
    return read;
  }

  Status ReadAgain(const EntrySink& sink, bool, const SourceReading& how) override {
    if (!m_reader.Unchanged())
      return Status::Error(StatusKind::kInputChanged, m_path, 0, "the dictionary changed while it was converted");
    CRunReport ignored;
    return ReadInto(sink, &ignored, how);
  }

 private:
  Status ReadInto(const EntrySink& sink, CRunReport* report, const SourceReading& how) {
    MdictOptions options;
    options.keepMarkup = m_options.keepMarkup;
    options.progress = how.progress;
    size_t listed = 0;
    Status read = m_reader.ReadEntries(
        options,
        [&](const MdictEntry& e) {
          report->CountLine();
          switch (e.problem) {
            case MdictProblem::kNone:
              return sink(listed++, e.word, e.explanation);
            case MdictProblem::kEmptyHeadword:
              report->SkipEntry(ReportReason::kEmptyHeadword, e.explanation, e.number);
              return true;
            case MdictProblem::kUnreadable:
              report->SkipEntry(ReportReason::kUnreadable, e.word, e.number);
              return true;
            case MdictProblem::kLinkLoop:
              report->SkipEntry(ReportReason::kLinkLoop, e.word, e.number);
              return true;
            case MdictProblem::kLinkTargetMissing:
              report->SkipEntry(ReportReason::kLinkTargetMissing, e.word, e.number);
              return true;
          }
          return true;
        },
        how.running);
    // A cancelled reading is no failure of the dictionary's: the job tells the cancel.
    return read.Kind() == StatusKind::kCancelled ? Status() : read;
  }

  CMdictReader m_reader;
  const MdictSourceOptions m_options;
  const Status m_opened;
  const std::wstring m_path;
};

}  // namespace

std::unique_ptr<IEntrySource> OpenMdictSource(const std::wstring& path, const MdictSourceOptions& options) {
  return std::make_unique<CMdictSource>(path, options);
}
