// lumo_dialog_bench: how long the dialog takes for a conversion, from the click on Convert
// to the status "转换完成", with the real CLumoDictGenDlg and the program's resources.
//
//   lumo_dialog_bench WORDLIST PACKAGE
//
// WORDLIST and PACKAGE are Windows paths (under Wine: Z:\...). The dialog runs on a
// thread of its own, as the harness of the dialog tests runs it; this thread fills in the
// boxes with the messages typing produces, clicks Convert and waits for the status text.
// Prints the seconds from the click to the status, and the package's size. LumoDict's
// settings file is taken to be missing, so nothing is registered.
//
// The time is taken inside the process: Wine's start and the dialog's creation are not
// part of it, so it compares with ldic.exe's whole run less Wine's own start.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/framework.h"
#include "app/lumo_app.h"
#include "app/main_dialog.h"
#include "app/resource.h"
#include "common/user_messages.h"

namespace {

using Clock = std::chrono::steady_clock;

struct FindDialog {
  DWORD thread;
  HWND found;
};

BOOL CALLBACK AcceptDialog(HWND window, LPARAM param) {
  auto* data = reinterpret_cast<FindDialog*>(param);
  wchar_t cls[16] = {};
  ::GetClassNameW(window, cls, 16);
  if (::IsWindowVisible(window) && std::wstring(cls) == L"#32770") {
    data->found = window;
    return FALSE;
  }
  return TRUE;
}

// Polls until condition holds or timeoutMs has passed; only while the dialog is prepared.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(10);
  }
}

// The run's end as the status line sees it. The status control's procedure is replaced
// (allowed within a process), so that the moment its text becomes "转换完成" is taken on
// the dialog's own thread, and this thread waits on an event instead of asking the dialog
// for the text over and over, which would cost the run time of its own.
struct StatusWatch {
  WNDPROC original = nullptr;
  HANDLE ended = nullptr;
  std::wstring done, failed;
  Clock::time_point at;
  bool succeeded = false;
};
StatusWatch g_watch;

LRESULT CALLBACK WatchStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam != 0) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
    if (g_watch.done == text || g_watch.failed == text) {
      g_watch.at = Clock::now();
      g_watch.succeeded = g_watch.done == text;
      ::SetEvent(g_watch.ended);
    }
  }
  return ::CallWindowProcW(g_watch.original, window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lumo_dialog_bench WORDLIST PACKAGE\n");
    return 2;
  }
  const std::wstring list = argv[1], package = argv[2];
  CLumoDictGen app;
  app.SetProfileName(package + L".settings-missing.ini");
  InitCommonControlsForDialog();

  std::atomic<DWORD> uiThread{0};
  std::atomic<bool> ended{false};
  std::thread ui([&] {
    uiThread = ::GetCurrentThreadId();
    CLumoDictGenDlg dialog;
    dialog.DoModal();
    ended = true;
  });
  HWND dialog = nullptr;
  WaitFor([&] {
    if (uiThread == 0) return false;
    FindDialog data{uiThread, nullptr};
    ::EnumThreadWindows(uiThread, &AcceptDialog, reinterpret_cast<LPARAM>(&data));
    dialog = data.found;
    return dialog != nullptr;
  }, 20000);
  if (dialog == nullptr) {
    std::fprintf(stderr, "lumo_dialog_bench: the dialog did not appear\n");
    ui.detach();
    return 1;
  }
  const auto type = [dialog](int id, const std::wstring& text) {
    ::SendMessageW(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  };
  type(IDC_EDIT_INPUT, list);
  type(IDC_EDIT_SAVE, package);
  type(IDC_EDIT_NAME, L"bench");
  ::DeleteFileW(package.c_str());

  g_watch.done = UserMessageText(UserMessage::kConvertDone);
  g_watch.failed = UserMessageText(UserMessage::kConvertFailedStatus);
  g_watch.ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_watch.original = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      ::GetDlgItem(dialog, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchStatus)));

  const Clock::time_point start = Clock::now();
  // Posted as a click reaches a button: the clock runs from before Convert sees it.
  ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  const bool ended_in_time = ::WaitForSingleObject(g_watch.ended, 600000) == WAIT_OBJECT_0;
  const double seconds = std::chrono::duration<double>(g_watch.at - start).count();

  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (!WaitFor([&] { return ended.load(); }, 10000)) {
    ui.detach();
    std::fprintf(stderr, "lumo_dialog_bench: the dialog did not close\n");
    return 1;
  }
  ui.join();
  if (!ended_in_time || !g_watch.succeeded) {
    std::fprintf(stderr, "lumo_dialog_bench: the conversion did not complete\n");
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  ::GetFileAttributesExW(package.c_str(), GetFileExInfoStandard, &facts);
  const unsigned long long bytes =
      (static_cast<unsigned long long>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  std::printf("%.3f %llu\n", seconds, bytes);
  return 0;
}
