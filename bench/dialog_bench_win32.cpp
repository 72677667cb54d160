// lumo_dialog_bench: how long the dialog takes for a conversion, from the click on Convert
// to the status "转换完成", with the real CLumoDictGenDlg and the program's resources.
//
//   lumo_dialog_bench WORDLIST PACKAGE
//
// WORDLIST and PACKAGE are Windows paths (under Wine: Z:\...). The dialog runs on a
// thread of its own, as the harness of the dialog tests runs it; this thread fills in the
// boxes with the messages typing produces, clicks Convert and watches the status text.
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

// Polls until condition holds or timeoutMs has passed. A short sleep: each poll asks the
// dialog's thread for a control's text, which must not cost the run anything measurable.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(2);
  }
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
  const auto text = [dialog](int id) { return ui::GetText(::GetDlgItem(dialog, id)); };
  type(IDC_EDIT_INPUT, list);
  type(IDC_EDIT_SAVE, package);
  type(IDC_EDIT_NAME, L"bench");
  ::DeleteFileW(package.c_str());

  const std::wstring done = UserMessageText(UserMessage::kConvertDone);
  const std::wstring failed = UserMessageText(UserMessage::kConvertFailedStatus);
  const Clock::time_point start = Clock::now();
  // Posted as a click reaches a button: the clock runs from before Convert sees it.
  ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  std::wstring status;
  const bool ended_in_time = WaitFor([&] {
    status = text(IDC_STATUS);
    return status == done || status == failed;
  }, 600000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (!WaitFor([&] { return ended.load(); }, 10000)) {
    ui.detach();
    std::fprintf(stderr, "lumo_dialog_bench: the dialog did not close\n");
    return 1;
  }
  ui.join();
  if (!ended_in_time || status != done) {
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
