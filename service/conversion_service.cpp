#include "service/conversion_service.h"

#include "package/package_writer.h"
#include "package/temp_files.h"
#include "platform/file_system.h"
#include "platform/profile.h"

std::optional<UserMessage> CheckConvertPaths(const ConvertRequest& request) {
  platform::FileStatus folder, input;
  const bool folderOk = !request.folder.empty() &&
                        platform::QueryFileStatus(request.folder, &folder) && folder.isDirectory;
  // A folder is no word list.
  const bool inputExists =
      platform::QueryFileStatus(request.wordList, &input) && !input.isDirectory;
  if (!inputExists && !folderOk) return UserMessage::kBothPathsWrong;
  if (!inputExists) return UserMessage::kInputMissing;
  if (!folderOk) return UserMessage::kSavePathWrong;
  // The package would replace the word list.
  if (platform::IsSameFile(request.wordList, request.package)) return UserMessage::kSaveIsInput;
  return std::nullopt;
}

std::optional<UserMessage> CheckConvertFacts(const ConvertRequest& request) {
  if (request.facts.name.empty()) return UserMessage::kNameEmpty;
  return std::nullopt;
}

std::unique_ptr<CConvertJob> PrepareConversion(const ConvertRequest& request,
                                               IConvertObserver* observer) {
  auto job = std::make_unique<CConvertJob>(request.folder);
  job->SetObserver(observer);
  job->SetThreads(request.threads);
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
  platform::FileStatus status;
  if (settingsPath.empty() || !platform::QueryFileStatus(settingsPath, &status) ||
      status.isDirectory) {
    sink.ShowWarning(UserMessage::kNoSettingsFile,
                     Status::Error(StatusKind::kNotFound, settingsPath, 0, "not found"));
    return RegisterOutcome::kWriteFailed;
  }
  platform::CProfileStore settings(settingsPath);
  return RegisterPackage(sink, packagePath, settings);
}
