#include "service/conversion_service.h"

#include <algorithm>
#include <initializer_list>

#include "common/utf.h"
#include "package/format.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "platform/text_convert.h"
#include "stardict/stardict_reader.h"

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

std::unique_ptr<CConvertJob> PrepareConversion(const ConvertRequest& request,
                                               IConvertObserver* observer,
                                               std::optional<TextEncoding> encoding) {
  auto job = std::make_unique<CConvertJob>(request.folder);
  if (encoding) job->ForceEncoding(*encoding);
  job->SetCodePage(request.codePage);
  job->SetObserver(observer);
  job->SetThreads(request.threads);
  if (request.fromStarDict)
    job->OpenStarDict(request.wordList, StarDictOptions{request.keepMarkup, request.codePage});
  else if (request.fromStandardInput)
    job->OpenStandardInput();
  else
    job->OpenInput(request.wordList);
  job->Start();
  return job;
}

Status ReadStarDictDefaults(const std::wstring& ifoPath, StarDictDefaults* defaults) {
  StarDictFacts facts;
  if (Status read = CStarDictReader::ReadFacts(ifoPath, &facts); !read) return read;
  defaults->name = TrimName(Utf8ToWideText(facts.bookName));
  defaults->author = Utf8ToWideText(facts.author);
  return Status();
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
  if (!DeleteTempFiles(job.Result())) sink.ShowWarning(UserMessage::kTempDeleteFailed, {});
  return written;
}

namespace {

// 13560 as "13,560".
std::wstring GroupedNumber(uint64_t value) {
  std::wstring digits = std::to_wstring(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, L",");
  return digits;
}

}  // namespace

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
  if (!report.HasProblems()) return {};
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
  add(UserMessage::kReportSkipped, report.SkippedLines(),
      {ReportReason::kNoSeparator, ReportReason::kUnclosedQuote, ReportReason::kEmptyHeadword});
  add(UserMessage::kReportRepaired, report.RepairedLines(), {ReportReason::kRepaired});
  add(UserMessage::kReportUnreadable, report.UnreadableEntries(), {ReportReason::kUnreadable});
  add(UserMessage::kReportBinaryOnly, report.BinaryOnlyEntries(), {ReportReason::kBinaryOnly});
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
