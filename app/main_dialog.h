#pragma once
// CLumoDictGenDlg: the program's only window. main_dialog.cpp holds its layout, input
// choosers, prompt, colours and validation; convert_control.cpp runs, watches, cancels
// and finishes a conversion.

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/framework.h"
#include "app/preview_dialog.h"
#include "service/conversion_service.h"

// The save path and dictionary name proposed for a chosen word list: the list's folder and
// file name without the name's own extension, followed by ".ldic"; and that base name.
struct DerivedNames {
  std::wstring savePath;
  std::wstring name;
};
DerivedNames DeriveFromInputPath(std::wstring_view inputPath);

class CLumoDictGenDlg : public ui::CDialogBase, private IConvertObserver {
 public:
  CLumoDictGenDlg();
  ~CLumoDictGenDlg() override;

  // How a worker thread is started; a test replaces it to see a start that fails.
  using ThreadStarter = HANDLE (*)(CConvertJob* job);
  static void SetThreadStarterForTesting(ThreadStarter starter);
  // How "打开所在文件夹" shows a package in the file manager; a test replaces it to see
  // which file it would show.
  using FolderOpener = void (*)(const std::wstring& package);
  static void SetFolderOpenerForTesting(FolderOpener opener);

  // The metadata block built by the last Convert that passed validation.
  const std::u16string& MetaBlock() const { return m_metaBlock; }

 protected:
  MessageMap GetMessageMap() const override;
  BOOL OnInitDialog() override;
  void OnDestroy() override;
  void OnHandlerFailed() override;

 private:
  // Message handlers, on the dialog's thread.
  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT message);
  void OnImport();
  void OnPreview();
  void OnSaveAs();
  void OnConvert();
  void OnExitOrCancel();
  void OnInputChanged();
  void OnOpenFolder();
  LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnDropFiles(WPARAM wParam, LPARAM lParam);
  LRESULT OnConvertProgress(WPARAM wParam, LPARAM lParam);
  LRESULT OnConvertDone(WPARAM wParam, LPARAM lParam);

  // IConvertObserver, on the worker thread; ShowWarning also on the dialog's thread, for
  // completion and registration.
  void OnConvertProgress(int percent) override;
  void OnConvertDone(bool success, CConvertJob* job) override;
  void ShowWarning(UserMessage message, const Status& cause) override;

  // A word list chosen by the chooser or dropped on the dialog.
  void UseInputPath(const std::wstring& path);
  // Proposes the save path and name derived from a word list's path and enables Convert.
  // With replace false, a box the user has filled in keeps its text.
  void ProposeFromInput(const std::wstring& path, bool replace);
  // Makes the paths read-only and refuses the choosers and drops during a run, or lets
  // them be changed again.
  void LockPaths(bool locked);
  // After a validation message: the box holding what was wrong gets the focus.
  void FocusFieldAtFault(UserMessage message);
  // Convert refused: the status line is cleared, the message shown and its box focused.
  void Refuse(UserMessage message);
  bool IsRunning() const { return m_runActive; }
  // "打开所在文件夹" is offered while the status line tells of a package just written.
  void ShowOpenFolder(bool shown);
  void StartRun(const ConvertRequest& request, std::optional<TextEncoding> encoding);
  // Waits for the last run's worker to end, however long it takes, and forgets it.
  void FinishWorker();
  // True when no worker thread is running (none started, or it has returned).
  bool WorkerEnded() const;
  // Back to idle after a run; the status line says how it ended, or nothing, and after
  // kConvertDone how many entries the package holds.
  void ShowIdle(std::optional<UserMessage> status, uint64_t entries = 0);
  // The failures kept for the end of the run, in the order they came; none are left kept.
  std::vector<UserMessage> TakeHeldWarnings();

  HICON m_hIcon = nullptr;
  // The package of the last run that wrote one, which "打开所在文件夹" shows.
  std::wstring m_lastPackage;
  int m_metaLength = 0;
  std::u16string m_metaBlock;
  std::unique_ptr<CConvertJob> m_job;
  ui::CStatusBar m_statusBar;
  ui::CMyEdit m_editInput;
  ui::CMyEdit m_editSave;
  ui::CMyEdit m_editName;
  ui::CMyEdit m_editAuthor;
  ui::CMyEdit m_editNumber;
  ui::CMyEdit m_editVersion;
  HANDLE m_thread = nullptr;
  // From Convert's start until the dialog is idle again (done, failed or cancelled).
  bool m_runActive = false;
  // From a run's start until its end is shown (for a cancelled run, until the next one),
  // ShowWarning keeps its messages, from either thread, for the end to show or forget.
  std::atomic<bool> m_holdWarnings{false};
  std::mutex m_heldMutex;
  std::vector<UserMessage> m_heldWarnings;
  // After a cancel, until this tick count, the Exit button does not quit.
  ULONGLONG m_exitIgnoredUntil = 0;
  // The save path and name last proposed from a word list: a box that still holds its
  // proposal follows the next word list typed in.
  DerivedNames m_proposed;
  // The paths of the current run as Convert took them: the package is written there, and
  // never over the word list.
  std::wstring m_runInput;
  std::wstring m_runPackage;
  unsigned m_runCodePage = 0;  // the ANSI code page it reads in, which its report names
  // The existing file the save chooser last offered, whose replacement it confirmed.
  std::wstring m_confirmedSavePath;
  // The folder of the list last converted, where the import chooser opens.
  std::wstring m_rememberedFolder;
  // The choices made in the preview: the encoding for the file it showed (another file is
  // read as detected), and what becomes of repeated headwords, for every file.
  EncodingChoice m_encoding;
  std::wstring m_encodingFor;
  DuplicatePolicy m_duplicates = DuplicatePolicy::kKeep;
};
