#include "mdict/mdict_source.h"

#include "common/threads.h"
#include "mdict/mdict_reader.h"

namespace {

class CMdictSource final : public CDictionarySource {
 public:
  CMdictSource(const std::wstring& path, const MdictSourceOptions& options)
      : m_options(options), m_opened(m_reader.Open(path)), m_path(path) {}

  const Status& Opened() const override { return m_opened; }
  std::wstring Path() const override { return m_path; }
  // The records as they decompress: HTML made text is smaller, so the explanations fit
  // the job's share of memory; style sheets expanded may make them larger, and the
  // dictionary is then read again (its blocks decompressed anew) for each window of the
  // data file.
  uint64_t Size() const override { return m_reader.RecordSize(); }

 private:
  bool Unchanged() const override { return m_reader.Unchanged(); }

  Status ReadEntries(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    if (m_reader.Facts().hasResourcesBeside) report->LeaveOutResources();
    MdictOptions options;
    options.keepMarkup = m_options.keepMarkup;
    options.progress = how.progress;
    options.threads = ThreadCount(how.threads);
    size_t listed = 0;
    const auto skip = [report](ReportReason reason, std::string_view text, uint64_t number) {
      report->SkipEntry(reason, text, number);
      return true;
    };
    const Status read = m_reader.ReadEntries(
        options,
        [&](const MdictEntry& e) {
          report->CountLine();
          switch (e.problem) {
            case MdictProblem::kNone: return sink(listed++, e.word, e.explanation);
            case MdictProblem::kEmptyHeadword: return skip(ReportReason::kEmptyHeadword, e.explanation, e.number);
            case MdictProblem::kUnreadable: return skip(ReportReason::kUnreadable, e.word, e.number);
            case MdictProblem::kLinkLoop: return skip(ReportReason::kLinkLoop, e.word, e.number);
            case MdictProblem::kLinkTargetMissing: return skip(ReportReason::kLinkTargetMissing, e.word, e.number);
          }
          return true;
        },
        how.running);
    // The aliases come after the other entries; the report lists all by number.
    report->SortByNumber();
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
