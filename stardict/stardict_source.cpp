#include "stardict/stardict_source.h"

#include <algorithm>

namespace {

class CStarDictSource final : public CDictionarySource {
 public:
  CStarDictSource(const std::wstring& ifoPath, const StarDictOptions& options)
      : m_options(options), m_opened(m_reader.Open(ifoPath)), m_path(ifoPath) {}

  const Status& Opened() const override { return m_opened; }
  std::wstring Path() const override { return m_path; }
  // What the explanations may come to: the job holds them while they fit beside the
  // index, and otherwise reads the dictionary again for each window of the data file.
  uint64_t Size() const override { return m_reader.TextSize(); }
  bool Close() override { return m_reader.Close(); }

 private:
  bool Unchanged() const override { return m_reader.Unchanged(); }

  Status ReadEntries(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    const uint64_t total = m_reader.WordCount() + m_reader.SynonymCount();
    uint64_t done = 0;
    size_t listed = 0;
    return m_reader.ReadEntries(
        m_options,
        [&](const StarDictEntry& e) {
          if ((++done & 0xFFF) == 0) {
            if (!how.Running()) return false;
            if (how.progress) how.progress(std::min(done, total), total);
          }
          report->CountLine();
          if (e.unreadable) {
            report->SkipEntry(ReportReason::kUnreadable, e.word);
            return true;
          }
          if (e.word.empty()) {
            report->Skip(LineProblem::kEmptyHeadword, e.explanation);
            return true;
          }
          if (e.binaryFields != 0 && e.explanation.empty()) {
            report->SkipEntry(ReportReason::kBinaryOnly, e.word);
            return true;
          }
          report->LeaveOutFields(e.binaryFields);
          report->CountEntry();
          return sink(listed++, e.word, e.explanation);
        },
        how.running);
  }

  CStarDictReader m_reader;
  const StarDictOptions m_options;
  const Status m_opened;
  const std::wstring m_path;
};

}  // namespace

std::unique_ptr<IEntrySource> OpenStarDictSource(const std::wstring& ifoPath, const StarDictOptions& options) {
  return std::make_unique<CStarDictSource>(ifoPath, options);
}
