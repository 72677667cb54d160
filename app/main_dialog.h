#pragma once
// CLumoDictGenDlg: the program's only window. main_dialog.cpp holds its layout, input
// choosers, prompt, colours and validation; convert_control.cpp runs, watches, cancels
// and finishes a conversion.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "app/framework.h"
#include "service/conversion_service.h"

// The save path and dictionary name proposed for a chosen word list: the path up to its
// last "." followed by ".ldic", and the text between the last "\" and the last ".".
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
  void OnSaveAs();
  void OnConvert();
  void OnExitOrCancel();
  void OnInputChanged();
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
  bool IsRunning() const { return m_runActive; }
  void StartRun(const ConvertRequest& request);
  // Waits for the last run's worker to end, however long it takes, and forgets it.
  void FinishWorker();
  // True when no worker thread is running (none started, or it has returned).
  bool WorkerEnded() const;
  void ShowIdle(UserMessage status);

  HICON m_hIcon = nullptr;
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
  // The save path and name last proposed from a word list: a box that still holds its
  // proposal follows the next word list typed in.
  DerivedNames m_proposed;
  // The paths of the current run as Convert took them: the package is written there, and
  // never over the word list.
  std::wstring m_runInput;
  std::wstring m_runPackage;
};
