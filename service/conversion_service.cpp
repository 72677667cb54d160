#include "service/conversion_service.h"

#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace {

// Why path is no usable file (wantFolder false) or folder (true); ok when it is one.
Status Unusable(const std::wstring& path, bool wantFolder) {
  platform::FileStatus status;
  if (path.empty()) return Status::Error(StatusKind::kNotFound, path, 0, "no path");
  if (!platform::QueryFileStatus(path, &status))
    return platform::LastSystemError(StatusKind::kNotFound, path);
  if (status.isDirectory != wantFolder)
    return Status::Error(StatusKind::kInvalidArgument, path, 0,
                         wantFolder ? "not a folder" : "a folder, not a file");
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

std::optional<ConvertProblem> CheckConvertFacts(const ConvertRequest& request) {
  if (request.facts.name.empty()) return ConvertProblem{UserMessage::kNameEmpty, {}};
  return std::nullopt;
}

std::unique_ptr<CConvertJob> PrepareConversion(const ConvertRequest& request,
                                               IConvertObserver* observer) {
  auto job = std::make_unique<CConvertJob>(request.folder);
  job->SetObserver(observer);
  job->SetThreads(request.threads);
  if (request.fromStandardInput)
    job->OpenStandardInput();
  else
    job->OpenInput(request.wordList);
  job->Start();
  return job;
}

bool FinishConversion(const CConvertJob& job, bool converted, const std::wstring& packagePath,
                      std::u16string_view metaBlock, const std::function<void(int)>& progress,
                      IWarningSink& sink) {
  bool written = false;
  if (converted) {
    const Status result = WritePackage(job.Result(), packagePath, metaBlock, progress);
    written = result.ok();
    if (!written) sink.ShowWarning(MessageOfKind(result.Kind()), result);
  }
  if (!DeleteTempFiles(job.Result())) sink.ShowWarning(UserMessage::kTempDeleteFailed, {});
  return written;
}

RegisterOutcome RegisterWithHost(const std::wstring& packagePath, const std::wstring& settingsPath,
                                 IWarningSink& sink) {
  if (Status missing = Unusable(settingsPath, false); !missing) {
    sink.ShowWarning(UserMessage::kNoSettingsFile, missing);
    return RegisterOutcome::kWriteFailed;
  }
  return RegisterPackage(sink, packagePath, settingsPath);
}
