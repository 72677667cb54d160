// Any bytes as LumoDict's settings file: registering a package either leaves the file as
// it was (a refusal or a failure), or lists the package last and ticked, and every line
// that is not part of the dictionary list is the same as before, in the same order.

#include <cctype>
#include <string>
#include <vector>

#include "common/utf.h"
#include "core/convert_job.h"
#include "host/registration.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "platform/ini_document.h"
#include "tests/fuzz/fuzz_support.h"
#include "textio/word_list_source.h"

namespace {

class CSilentSink : public IWarningSink {
 public:
  void ShowWarning(UserMessage, const Status&) override {}
};

// A small package, made once.
std::wstring Package() {
  static const std::wstring path = [] {
    const std::wstring list = fuzz::ScratchFile(L"w.txt");
    fuzz::WriteFile(list, "apple\tred fruit\nbee\tinsect\n");
    CConvertJob job(fuzz::ScratchFolder());
    job.SetSource(OpenWordListFile(list));
    job.Start();
    const std::wstring package = fuzz::ScratchFile(L"w.ldic");
    const bool made = job.Convert() &&
                      WritePackage(job.Result(), package, BuildMetadataBlock({L"w", L"", L"", L"", L"d"})).ok();
    DeleteTempFiles(job.Result());
    FUZZ_CHECK(made, "the package could not be made");
    return package;
  }();
  return path;
}

// The file's lines as text units (any encoding, no byte-order mark), without their line ends (a last line
// without one gains CR LF when a line is added after it; CRs before it are no text, nor
// are blank lines at the end), leaving out the lines registration may write:
// the [Dictionary] header and its Query keys.
std::vector<std::u16string> OtherLines(const std::string& bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && (bytes[0] == '\xFF' || bytes[0] == '\xFE') && (bytes[1] == '\xFE' || bytes[1] == '\xFF') && bytes[0] != bytes[1])
    text = DecodeUtf16Units(std::string_view(bytes).substr(2), bytes[0] == '\xFF' ? Utf16ByteOrder::kLittleEndian
                                                                                   : Utf16ByteOrder::kBigEndian);
  else
    for (unsigned char c : bytes.substr(bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0)) text.push_back(c);
  std::vector<std::u16string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(u'\n', start);
    std::u16string line = text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    while (!line.empty() && line.back() == u'\r') line.pop_back();
    std::string folded;
    for (char16_t c : line)
      // The blanks the profile functions trim around names.
      if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\v' && c != u'\f' && c != 0x1A)
        folded.push_back(c < 128 ? static_cast<char>(std::tolower(c)) : '?');
    const bool ours = folded == "[dictionary]" || folded.starts_with("querydictnum") ||
                      folded.starts_with("queryfilename") || folded.starts_with("querychecked");
    if (!ours) lines.push_back(line);
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring package = Package();
  static const std::wstring settings = fuzz::ScratchFile(L"LumoDict.ini");
  const std::string before(reinterpret_cast<const char*>(data), size);
  fuzz::WriteFile(settings, before);
  CSilentSink sink;
  const RegisterOutcome outcome = RegisterPackage(sink, package, settings);
  const std::string after = fuzz::ReadFile(settings);
  if (outcome != RegisterOutcome::kRegistered) {
    FUZZ_CHECK(after == before, "a refused registration changed the file");
    return 0;
  }
  platform::CIniDocument document;
  FUZZ_CHECK(document.Load(settings).ok(), "the new file cannot be read");
  const int count = document.GetProfileInt(L"Dictionary", L"QueryDictNum", 0);
  FUZZ_CHECK(count >= 1, "count " + std::to_string(count));
  const std::wstring last = std::to_wstring(count - 1);
  FUZZ_CHECK(document.GetProfileString(L"Dictionary", L"QueryFileName" + last, L"") == package,
             "the package is not listed last");
  FUZZ_CHECK(document.GetProfileInt(L"Dictionary", L"QueryChecked" + last, 0) == 1, "not ticked");
  FUZZ_CHECK(OtherLines(before) == OtherLines(after), "a line outside the list changed");
  return 0;
}
