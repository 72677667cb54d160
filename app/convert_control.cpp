// Running a conversion from the dialog.
//
// How it works. Convert, on the dialog's thread, checks the request and has the
// conversion service prepare a CConvertJob (whose temporary files go to the save folder,
// the current directory after validation, and whose word list is open), then starts one
// worker thread on ConvertThreadProc. The dialog is the job's observer, and the worker reaches it only
// through three calls that never touch a control:
//   progress 6 to 80     -> SendMessageW(WM_CONVERT_PROGRESS, percent): the worker waits
//                           until the dialog's thread has moved the bar;
//   a failure to tell    -> kept (under a lock) for the dialog's thread to show at the end;
//   the end              -> PostMessageW(WM_CONVERT_DONE, 0 success / 1 failure, job),
//                           the worker's last action.
// The dialog's thread does everything else: on WM_CONVERT_DONE it writes the package
// (85, 90, 97, 100 through the same progress message), deletes the temporary files and
// returns to idle, its status line saying how the run ended; only then does it show what
// there is to tell (the failures kept, what the list gave) and register the package when
// the box is ticked. A run the worker refused because its list is no text ends with an
// empty status line, as a request refused before the run does.
//
// A run owns the paths Convert validated: the package is written to the save path as it
// was then, and until the dialog is idle again the two path boxes are read-only and the
// choosers and drops refused. The register box stays live and is read at completion.
//
// Cancel clears the job's keep-running flag, which the worker polls in every phase (lines,
// sort buckets, data-file entries, compressed chunks), and waits up to a second for it; the
// worker normally ends within milliseconds. A worker that still ran on would be recognised
// at its late completion (the job is already cancelled), which only removes the temporary
// files it may have left and forgets what it had to tell. The button that cancelled
// becomes "退出" at once; for the system's double-click time it ignores clicks, so that the
// second click of a double click on "取消" does not quit.
//
// After a package is written, a list that had lines skipped or repaired gets one message
// box saying so (DescribeRunReport), before the registration and its message. A list
// that gave no entry fails in the worker, which says so; no package is written. The
// package is written only at completion, so a cancel has no package to
// remove, and the file at the save path is never touched.
//
// Temporary files are deleted only once the worker has ended, so that the dialog's thread
// never reads the job's record of them while the worker may still be creating them. The
// record names only the files this run created: a file of that name found in the folder
// (a user's, another run's) is never deleted.
//
// A job outlives its worker: before a new run replaces the job, and before the dialog
// window goes away, the dialog waits for the last worker to end, delivering the messages
// the worker sends meanwhile so that neither thread can block the other. Only one worker
// exists at a time; runs of other processes in the same folder take other names.

#include <windows.h>
#include <commctrl.h>

#include <mutex>
#include <utility>

#include "app/lumo_app.h"
#include "app/main_dialog.h"
#include "app/resource.h"
#include "common/window_messages.h"
#include "package/temp_files.h"
#include "platform/file_system.h"

namespace {

DWORD WINAPI WorkerMain(LPVOID job) { return ConvertThreadProc(job); }

HANDLE StartWorkerThread(CConvertJob* job) {
  return ::CreateThread(nullptr, 0, &WorkerMain, job, 0, nullptr);
}

CLumoDictGenDlg::ThreadStarter g_startThread = &StartWorkerThread;

}  // namespace

void CLumoDictGenDlg::SetThreadStarterForTesting(ThreadStarter starter) {
  g_startThread = starter != nullptr ? starter : &StartWorkerThread;
}

CLumoDictGenDlg::~CLumoDictGenDlg() {
  // Normally done when the window was destroyed; this covers a dialog whose window never
  // came to be.
  FinishWorker();
  m_job.reset();
}

void CLumoDictGenDlg::OnDestroy() {
  if (m_job != nullptr) m_job->Cancel();
  FinishWorker();
  if (CLumoDictGen* app = CLumoDictGen::Current()) {
    if (app->MainWindow() == m_hWnd) app->SetMainWindow(nullptr);
  }
}

void CLumoDictGenDlg::FinishWorker() {
  if (m_thread == nullptr) return;
  if (m_hWnd != nullptr)
    ui::WaitForThread(m_thread, INFINITE);
  else
    ::WaitForSingleObject(m_thread, INFINITE);
  ::CloseHandle(m_thread);
  m_thread = nullptr;
  if (m_hWnd == nullptr) return;
  // The worker's completion may still be queued. It must not be taken for a later job
  // that happens to get the same address, and if its run was cancelled the temporary
  // files it may have made since are removed here instead.
  MSG msg;
  while (::PeekMessageW(&msg, m_hWnd, WM_CONVERT_DONE, WM_CONVERT_DONE, PM_REMOVE)) {
    if (m_job != nullptr && reinterpret_cast<CConvertJob*>(msg.lParam) == m_job.get() &&
        m_job->IsCancelled())
      DeleteTempFiles(m_job->Result());
  }
}

void CLumoDictGenDlg::StartRun(const ConvertRequest& request, std::optional<TextEncoding> encoding) {
  // The last run's worker, if a cancel left one running, must be gone before its job is
  // released and before a new worker writes the same temporary files.
  FinishWorker();
  TakeHeldWarnings();  // a cancelled run's, never shown
  m_holdWarnings = true;
  m_exitIgnoredUntil = 0;  // the cancel's double click is long over

  m_job = PrepareConversion(request, this, encoding);
  m_runInput = request.wordList;
  m_runPackage = request.package;
  m_runCodePage = request.codePage;

  LockPaths(true);
  ::EnableWindow(GetDlgItem(IDOK), FALSE);
  ShowOpenFolder(false);
  SetItemText(IDC_STATUS, ui::LoadText(UserMessage::kConverting));
  SetItemText(IDCANCEL, ui::LoadResourceText(IDS_BUTTON_CANCEL));

  m_runActive = true;
  m_thread = g_startThread(m_job.get());
  if (m_thread == nullptr) {
    m_job->Cancel();
    m_holdWarnings = false;
    ShowIdle(UserMessage::kConvertFailedStatus);
    ui::ShowWarning(m_hWnd, UserMessage::kConvertFailed);
  }
}

void CLumoDictGenDlg::ShowIdle(std::optional<UserMessage> status, uint64_t entries) {
  m_runActive = false;
  ::ShowWindow(GetDlgItem(IDC_PROGRESS), SW_HIDE);
  ::EnableWindow(GetDlgItem(IDOK), TRUE);
  LockPaths(false);
  std::wstring text = status ? ui::LoadText(*status) : std::wstring();
  // A package was written: how many entries it holds, and the way to it.
  const bool done = status == UserMessage::kConvertDone;
  if (done) text += FormatUserMessage(ui::LoadText(UserMessage::kEntryCount), GroupedNumber(entries));
  ShowOpenFolder(done);
  SetItemText(IDC_STATUS, text);
  SetItemText(IDCANCEL, ui::LoadResourceText(IDS_BUTTON_EXIT));
}

std::vector<UserMessage> CLumoDictGenDlg::TakeHeldWarnings() {
  std::lock_guard<std::mutex> lock(m_heldMutex);
  return std::exchange(m_heldWarnings, {});
}

// ---- Worker side: called on the worker thread ----

void CLumoDictGenDlg::OnConvertProgress(int percent) {
  ::SendMessageW(m_hWnd, WM_CONVERT_PROGRESS, static_cast<WPARAM>(percent), 0);
}

void CLumoDictGenDlg::OnConvertDone(bool success, CConvertJob* job) {
  ::PostMessageW(m_hWnd, WM_CONVERT_DONE, success ? 0 : 1, reinterpret_cast<LPARAM>(job));
}

void CLumoDictGenDlg::ShowWarning(UserMessage message, const Status&) {
  // A run's failures wait until its end is on the status line. The dialog shows its fixed
  // texts only, as it always has.
  if (m_holdWarnings) {
    std::lock_guard<std::mutex> lock(m_heldMutex);
    m_heldWarnings.push_back(message);
    return;
  }
  ui::ShowWarning(m_hWnd, message);
}

// ---- Dialog side ----

LRESULT CLumoDictGenDlg::OnConvertProgress(WPARAM wParam, LPARAM) {
  ::SendMessageW(GetDlgItem(IDC_PROGRESS), PBM_SETPOS, wParam, 0);
  return 0;
}

LRESULT CLumoDictGenDlg::OnConvertDone(WPARAM wParam, LPARAM lParam) {
  // Only the completion of the current job counts.
  if (m_job == nullptr || reinterpret_cast<CConvertJob*>(lParam) != m_job.get()) return 0;
  if (m_job->IsCancelled()) {
    // The user cancelled before the worker ended: the dialog is idle already and shows
    // "转换取消。"; nothing is written and nothing is said.
    DeleteTempFiles(m_job->Result());
    TakeHeldWarnings();
    return 0;
  }

  // The package goes where Convert pointed, not to what the save box may show by now:
  // a run's paths are its own (the boxes are locked meanwhile as well).
  const std::wstring& savePath = m_runPackage;
  bool converted = wParam == 0;
  if (converted && platform::IsSameFile(m_runInput, savePath)) {
    ShowWarning(UserMessage::kSaveIsInput, {});
    converted = false;
  }
  const bool written =
      FinishConversion(*m_job, converted, savePath, m_metaBlock, [this](int percent) {
        ::SendMessageW(m_hWnd, WM_CONVERT_PROGRESS, static_cast<WPARAM>(percent), 0);
      }, *this);
  m_job->Cancel();  // its completion is being handled
  // The status line tells how the run ended before any box speaks; a list refused as no
  // text was never converted, and leaves it empty.
  if (written) m_lastPackage = savePath;
  if (written)
    ShowIdle(UserMessage::kConvertDone, m_job->Result().index.EntryCount());
  else if (m_job->Outcome().Kind() == StatusKind::kNotText)
    ShowIdle(std::nullopt);
  else
    ShowIdle(UserMessage::kConvertFailedStatus);
  m_holdWarnings = false;
  for (const UserMessage message : TakeHeldWarnings()) ui::ShowWarning(m_hWnd, message);
  // The package is complete: what the list gave is said before the registration speaks.
  if (written) {
    const std::wstring report = DescribeRunReport(m_job->Report(), &ui::LoadText, m_runCodePage);
    if (!report.empty()) ui::ShowWarning(m_hWnd, report);
  }
  const CLumoDictGen* app = CLumoDictGen::Current();
  if (written && app != nullptr &&
      ::SendMessageW(GetDlgItem(IDC_CHECK_REGISTER), BM_GETCHECK, 0, 0) == BST_CHECKED)
    RegisterWithHost(savePath, app->ProfileName(), *this);
  return 0;
}

void CLumoDictGenDlg::OnHandlerFailed() {
  // Whatever failed, a run in progress does not end well: it stops, as on cancel, and the
  // dialog goes back to idle with the failure shown.
  if (IsRunning()) {
    m_job->Cancel();
    if (WorkerEnded()) DeleteTempFiles(m_job->Result());
    ShowIdle(UserMessage::kConvertFailedStatus);
  }
  for (const UserMessage message : TakeHeldWarnings()) ui::ShowWarning(m_hWnd, message);
  ui::ShowWarning(m_hWnd, UserMessage::kConvertFailed);
}

void CLumoDictGenDlg::OnExitOrCancel() {
  if (!IsRunning()) {
    // The second click of the double click that cancelled is no request to quit.
    if (::GetTickCount64() < m_exitIgnoredUntil) return;
    EndDialog(IDCANCEL);
    return;
  }
  m_job->Cancel();
  // A worker that does not stop within a second keeps its handle, so that the next run
  // and the dialog's end can still wait for it.
  if (m_thread != nullptr && ui::WaitForThread(m_thread, 1000)) {
    ::CloseHandle(m_thread);
    m_thread = nullptr;
  }
  ShowIdle(UserMessage::kConvertCancelled);
  m_exitIgnoredUntil = ::GetTickCount64() + ::GetDoubleClickTime();
  // A worker still running removes its files at its completion.
  if (WorkerEnded()) DeleteTempFiles(m_job->Result());
}

bool CLumoDictGenDlg::WorkerEnded() const {
  return m_thread == nullptr || ::WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0;
}
