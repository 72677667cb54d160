#include "service/conversion_service.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "common/utf.h"
#include "mdict/mdict_reader.h"
#include "mdict/mdict_source.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "platform/text_convert.h"
#include "stardict/stardict_reader.h"
#include "stardict/stardict_source.h"
#include "textio/word_list_source.h"

namespace {

// Why path names nothing, or with wantFolder no folder; ok when it does. A word list that
// is a folder or a device gets past here: opening it tells the user it cannot be read.
Status Unusable(const std::wstring& path, bool wantFolder) {
  platform::FileStatus status;
  if (path.empty()) return Status::Error(StatusKind::kNotFound, path, 0, "no path");
  if (!platform::QueryFileStatus(path, &status))
    return platform::LastSystemError(StatusKind::kNotFound, path);
  if (wantFolder && !status.isDirectory)
    return Status::Error(StatusKind::kInvalidArgument, path, 0, "not a folder");
  return Status();
}

}  // namespace

std::optional<ConvertProblem> CheckConvertPaths(const ConvertRequest& request) {
  const Status input = request.fromStandardInput ? Status() : Unusable(request.wordList, false);
  const Status folder = Unusable(request.folder, true);
  if (!input.ok() && !folder.ok()) return ConvertProblem{UserMessage::kBothPathsWrong, input};
  if (!input.ok()) return ConvertProblem{UserMessage::kInputMissing, input};
  if (!folder.ok()) return ConvertProblem{UserMessage::kSavePathWrong, folder};
  if (!request.fromStandardInput && platform::IsSameFile(request.wordList, request.package))
    return ConvertProblem{UserMessage::kSaveIsInput,
                          Status::Error(StatusKind::kInvalidArgument, request.package, 0,
                                        "the package would replace the word list")};
  // Only a file is replaced by the package: a device (/dev/null, NUL), a pipe, a socket
  // or a folder there, or a link to one, would be taken away from everyone who uses it.
  switch (platform::QueryFileKind(request.package)) {
    case platform::FileKind::kStream:
      return ConvertProblem{UserMessage::kSaveNotRegularFile,
                            Status::Error(StatusKind::kInvalidArgument, request.package, 0,
                                          "a device or a pipe, not a file")};
    case platform::FileKind::kFolder:
      return ConvertProblem{UserMessage::kSaveNotRegularFile,
                            Status::Error(StatusKind::kInvalidArgument, request.package, 0,
                                          "a folder, not a file")};
    case platform::FileKind::kMissing:
    case platform::FileKind::kRegular:
      break;
  }
  return std::nullopt;
}

std::wstring TrimName(std::wstring_view name) {
  constexpr std::wstring_view kBlanks = L" \t\u3000";
  const size_t first = name.find_first_not_of(kBlanks);
  if (first == std::wstring_view::npos) return {};
  return std::wstring(name.substr(first, name.find_last_not_of(kBlanks) - first + 1));
}

std::optional<ConvertProblem> CheckConvertFacts(const ConvertRequest& request) {
  if (TrimName(request.facts.name).empty()) return ConvertProblem{UserMessage::kNameEmpty, {}};
  // LumoDict cannot list a package whose facts take more room than it reads.
  if (2 * BuildMetadataBlock(request.facts).size() > kMaxHostMetadataLength)
    return ConvertProblem{UserMessage::kMetadataTooLong, {}};
  return std::nullopt;
}

namespace {

std::unique_ptr<IEntrySource> OpenWordList(const ConvertRequest& request, std::optional<TextEncoding> encoding,
                                           uint64_t readLimit) {
  WordListOptions options;
  options.readLimit = readLimit;
  options.encoding = encoding;
  options.codePage = request.codePage;
  options.unescape = request.unescape;
  return request.fromStandardInput ? OpenWordListStream(options) : OpenWordListFile(request.wordList, options);
}

Status WordListDefaults(const std::wstring&, InputDefaults*) { return Status(); }

// A dictionary's first entries are read as they are wanted: readLimit does not apply.
std::unique_ptr<IEntrySource> OpenStarDict(const ConvertRequest& request, std::optional<TextEncoding>, uint64_t) {
  return OpenStarDictSource(request.wordList, StarDictOptions{request.keepMarkup, request.codePage, request.folder});
}

Status StarDictDefaults(const std::wstring& ifoPath, InputDefaults* defaults) {
  StarDictFacts facts;
  if (Status read = CStarDictReader::ReadFacts(ifoPath, &facts); !read) return read;
  defaults->name = TrimName(Utf8ToWideText(facts.bookName));
  defaults->author = Utf8ToWideText(facts.author);
  defaults->entries = facts.wordCount + facts.synonymCount;
  return Status();
}

std::unique_ptr<IEntrySource> OpenMdict(const ConvertRequest& request, std::optional<TextEncoding>, uint64_t) {
  return OpenMdictSource(request.wordList, MdictSourceOptions{request.keepMarkup});
}

// An MDict dictionary names itself by its title; it names no author.
Status MdictDefaults(const std::wstring& path, InputDefaults* defaults) {
  MdictFacts facts;
  if (Status read = CMdictReader::ReadFacts(path, &facts); !read) return read;
  defaults->name = TrimName(Utf8ToWideText(facts.titleText));
  defaults->entries = facts.entryCount;
  return Status();
}

// Every input format: its name for --from, the extensions that name it (none for the word
// list, which takes every other), its source and its facts. An MDict dictionary's resource
// file (.mdd) is named for it too, so that it is refused as no dictionary rather than read
// as a word list.
struct FormatRow {
  InputFormat format;
  const char* name;
  std::array<const wchar_t*, 2> extensions;
  std::unique_ptr<IEntrySource> (*open)(const ConvertRequest&, std::optional<TextEncoding>, uint64_t readLimit);
  Status (*defaults)(const std::wstring&, InputDefaults*);
};

constexpr FormatRow kFormats[] = {
    {InputFormat::kWordList, "list", {}, OpenWordList, WordListDefaults},
    {InputFormat::kStarDict, "stardict", {L"ifo"}, OpenStarDict, StarDictDefaults},
    {InputFormat::kMdict, "mdict", {L"mdx", L"mdd"}, OpenMdict, MdictDefaults},
};

const FormatRow& RowOf(InputFormat format) {
  for (const FormatRow& row : kFormats)
    if (row.format == format) return row;
  return kFormats[0];
}

}  // namespace

InputFormat InputFormatOf(const std::wstring& path) {
  // "NAME.EXT" in any letter case, whatever separates the folders.
  const auto endsWith = [&path](std::wstring_view extension) {
    if (path.size() <= extension.size()) return false;
    const size_t dot = path.size() - extension.size() - 1;
    if (path[dot] != L'.') return false;
    for (size_t i = 0; i < extension.size(); ++i) {
      wchar_t c = path[dot + 1 + i];
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
      if (c != extension[i]) return false;
    }
    return true;
  };
  for (const FormatRow& row : kFormats)
    for (const wchar_t* extension : row.extensions)
      if (extension != nullptr && endsWith(extension)) return row.format;
  return InputFormat::kWordList;
}

std::optional<InputFormat> InputFormatNamed(std::string_view name) {
  for (const FormatRow& row : kFormats)
    if (name == row.name) return row.format;
  return std::nullopt;
}

std::vector<std::string> InputFormatNames() {
  std::vector<std::string> names;
  for (const FormatRow& row : kFormats) names.emplace_back(row.name);
  return names;
}

bool IsDictionaryFormat(InputFormat format) { return format != InputFormat::kWordList; }

std::unique_ptr<IEntrySource> OpenInput(const ConvertRequest& request, std::optional<TextEncoding> encoding,
                                        uint64_t readLimit) {
  return RowOf(request.format).open(request, encoding, readLimit);
}

std::unique_ptr<CConvertJob> PrepareConversion(const ConvertRequest& request,
                                               IConvertObserver* observer,
                                               std::optional<TextEncoding> encoding) {
  auto job = std::make_unique<CConvertJob>(request.folder);
  job->SetObserver(observer);
  job->SetThreads(request.threads);
  job->SetDuplicates(request.duplicates);
  job->SetSource(OpenInput(request, encoding));
  job->Start();
  return job;
}

Status ReadInputDefaults(InputFormat format, const std::wstring& path, InputDefaults* defaults) {
  *defaults = InputDefaults();
  return RowOf(format).defaults(path, defaults);
}

bool FinishConversion(CConvertJob& job, bool converted, const std::wstring& packagePath,
                      std::u16string_view metaBlock, const std::function<void(int)>& progress,
                      IWarningSink& sink) {
  bool written = false;
  if (converted) {
    const Status result = WritePackage(job.Result(), packagePath, metaBlock, progress);
    written = result.ok();
    if (!written) sink.ShowWarning(MessageFor(result), result);
    // A package saved as LumoDictTemp.des.dz, say, took the place of the run's own file.
    if (written) ReleaseTempFileReplacedBy(job.Result(), packagePath);
  }
  if (!DeleteTempFiles(job.Result()) || job.SourceLeftFilesBehind())
    sink.ShowWarning(UserMessage::kTempDeleteFailed, {});
  return written;
}

std::wstring DescribeEncoding(TextEncoding encoding, unsigned codePage,
                              const std::function<std::wstring(UserMessage)>& text) {
  switch (encoding) {
    case TextEncoding::Utf8: return L"UTF-8";
    case TextEncoding::Utf16LE: return L"UTF-16LE";
    case TextEncoding::Utf16BE: return L"UTF-16BE";
    case TextEncoding::Ansi: break;
  }
  if (codePage == 0) codePage = platform::AnsiCodePage();
  return FormatUserMessage(text(UserMessage::kReportCodePage), Utf8ToWideText(CodePageName(codePage)),
                           std::to_wstring(codePage));
}

std::wstring DescribeRunReport(const CRunReport& report,
                               const std::function<std::wstring(UserMessage)>& text,
                               unsigned codePage) {
  if (!report.HasProblems() && !report.ResourcesLeftOut() && report.MergedEntries() == 0 &&
      report.DroppedEntries() == 0)
    return {};
  // A message box has room for a few line numbers; the rest are only counted.
  constexpr size_t kShownLines = 5;
  const auto numbers = [&report](std::initializer_list<ReportReason> reasons) {
    bool more = false;
    std::wstring list;
    for (const uint64_t number : report.LineNumbers(reasons, kShownLines, &more))
      list += (list.empty() ? L"" : L"\u3001") + GroupedNumber(number);
    return more ? list + L"\u2026" : list;
  };
  std::wstring message =
      FormatUserMessage(text(UserMessage::kReportEntries), GroupedNumber(report.Entries()));
  const auto add = [&](UserMessage what, uint64_t count, std::initializer_list<ReportReason> reasons) {
    if (count != 0) message += FormatUserMessage(text(what), GroupedNumber(count), numbers(reasons));
  };
  // A dictionary's entries are no lines: the one problem they share with lines is told as
  // theirs.
  add(report.CountsEntries() ? UserMessage::kReportNoHeadword : UserMessage::kReportSkipped, report.SkippedLines(),
      {ReportReason::kNoSeparator, ReportReason::kUnclosedQuote, ReportReason::kEmptyHeadword,
       ReportReason::kTooLong});
  add(UserMessage::kReportRepaired, report.RepairedLines(), {ReportReason::kRepaired});
  add(UserMessage::kReportUnreadable, report.UnreadableEntries(), {ReportReason::kUnreadable});
  add(UserMessage::kReportBinaryOnly, report.BinaryOnlyEntries(), {ReportReason::kBinaryOnly});
  add(UserMessage::kReportBrokenLinks, report.LinkLoops() + report.LinkTargetsMissing(),
      {ReportReason::kLinkLoop, ReportReason::kLinkTargetMissing});
  const bool entries = report.CountsEntries();
  add(entries ? UserMessage::kReportMergedEntries : UserMessage::kReportMergedLines,
      report.MergedEntries(), {ReportReason::kMerged});
  add(entries ? UserMessage::kReportDroppedEntries : UserMessage::kReportDroppedLines,
      report.DroppedEntries(), {ReportReason::kDropped});
  if (report.ResourcesLeftOut()) message += text(UserMessage::kReportResourcesLeftOut);
  // Where the encoding was a choice, it is named, so that a wrong one shows at once.
  if (report.HeldNonAscii())
    message += L"\n" + FormatUserMessage(text(UserMessage::kReportEncoding),
                                         DescribeEncoding(report.Encoding(), codePage, text));
  return message;
}

RegisterOutcome RegisterWithHost(const std::wstring& packagePath, const std::wstring& settingsPath,
                                 IWarningSink& sink) {
  if (Status missing = Unusable(settingsPath, false); !missing) {
    sink.ShowWarning(UserMessage::kNoSettingsFile, missing);
    return RegisterOutcome::kWriteFailed;
  }
  return RegisterPackage(sink, packagePath, settingsPath);
}
