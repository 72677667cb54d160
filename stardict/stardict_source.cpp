#include "stardict/stardict_source.h"

namespace {

class CStarDictSource final : public IEntrySource {
 public:
  CStarDictSource(const std::wstring& ifoPath, const StarDictOptions& options)
      : m_options(options), m_opened(m_reader.Open(ifoPath)) {}

  const Status& Opened() const override { return m_opened; }
  uint64_t Size() const override { return 0; }

  Status Read(const EntrySink& sink, CRunReport* report, const SourceReading& how) override {
    if (!m_opened) return m_opened;
    report->SetEncoding(TextEncoding::Utf8);
    report->SetCountsEntries();
    const uint64_t total = m_reader.WordCount() + m_reader.SynonymCount();
    uint64_t done = 0;
    size_t listed = 0;
    return m_reader.ReadEntries(m_options, [&](const StarDictEntry& e) {
      if ((++done & 0xFFF) == 0) {
        if (!how.Running()) return false;
        if (how.progress) how.progress(done, total);
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
      return sink(listed++, e.word, e.explanation);
    });
  }

 private:
  CStarDictReader m_reader;
  const StarDictOptions m_options;
  const Status m_opened;
};

}  // namespace

std::unique_ptr<IEntrySource> OpenStarDictSource(const std::wstring& ifoPath, const StarDictOptions& options) {
  return std::make_unique<CStarDictSource>(ifoPath, options);
}
