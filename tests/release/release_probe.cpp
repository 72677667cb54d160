// lumo_release_probe: drives an installed LumoDictGen.exe from outside, for the installer's
// tests (scripts/installer-test.sh), which cannot reach into the program as the dialog's
// own tests do.
//
//   lumo_release_probe dialog PROGRAM [COMMAND [ARGS...]]
//
// Starts PROGRAM, waits for its main dialog, checks that it holds the running mutex, runs
// COMMAND (if given) while the dialog is open, presses Esc in the dialog and waits for the
// program to end. Prints one line per fact ("dialog: shown", "mutex: held",
// "command exit: N", "program exit: N", "mutex: released"); exits 0 when the dialog showed,
// held the mutex and closed on Esc, else 1.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/lumo_app.h"
#include "app/resource.h"

namespace {

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (process == search->process && ::IsWindowVisible(window) &&
      std::wstring(className) == L"#32770" && ::GetDlgItem(window, IDC_EDIT_INPUT) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

bool MutexExists() {
  const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, kRunningMutexName);
  if (mutex == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  ::CloseHandle(mutex);
  return true;
}

// Starts a command line; returns the process handle, or null.
HANDLE Start(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
    return nullptr;
  }
  ::CloseHandle(started.hThread);
  return started.hProcess;
}

std::wstring Quote(const wchar_t* argument) { return L"\"" + std::wstring(argument) + L"\""; }

int Dialog(int argc, wchar_t** argv) {
  const HANDLE program = Start(Quote(argv[2]));
  if (program == nullptr) {
    std::printf("program: cannot start (error %lu)\n", ::GetLastError());
    return 1;
  }
  Search search{::GetProcessId(program), nullptr};
  for (int waited = 0; search.found == nullptr && waited < 60000; waited += 100) {
    ::Sleep(100);
    ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  }
  bool ok = search.found != nullptr;
  std::printf("dialog: %s\n", ok ? "shown" : "not shown");
  const bool held = MutexExists();
  std::printf("mutex: %s\n", held ? "held" : "not held");
  ok = ok && held;

  if (argc > 3) {
    // The arguments go as they are: an installer reads "/S" only unquoted, and "_?=DIR"
    // only unquoted and last, spaces and all.
    std::wstring commandLine = Quote(argv[3]);
    for (int i = 4; i < argc; ++i) commandLine += std::wstring(L" ") + argv[i];
    const HANDLE command = Start(commandLine);
    DWORD status = 0;
    if (command == nullptr) {
      std::printf("command: cannot start (error %lu)\n", ::GetLastError());
      ok = false;
    } else if (::WaitForSingleObject(command, 60000) != WAIT_OBJECT_0) {
      // Waiting for a user, most likely: a silent command shows nothing.
      ::TerminateProcess(command, 99);
      std::printf("command: still running after 60 s\n");
      ok = false;
    } else {
      ::GetExitCodeProcess(command, &status);
      std::printf("command exit: %lu\n", status);
    }
    if (command != nullptr) ::CloseHandle(command);
  }

  // Esc as a user presses it: a key in the dialog's first box, which the dialog's modal
  // loop turns into Cancel.
  if (search.found != nullptr) {
    const HWND box = ::GetDlgItem(search.found, IDC_EDIT_INPUT);
    ::PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1);
    ::PostMessageW(box, WM_KEYUP, VK_ESCAPE, 1 | (3u << 30));
  }
  DWORD status = 0;
  const bool ended = ::WaitForSingleObject(program, 20000) == WAIT_OBJECT_0;
  if (!ended) ::TerminateProcess(program, 99);
  ::GetExitCodeProcess(program, &status);
  ::CloseHandle(program);
  if (ended) {
    std::printf("program exit: %lu\n", status);
  } else {
    std::printf("program exit: none, still running after Esc\n");
  }
  const bool released = !MutexExists();
  std::printf("mutex: %s\n", released ? "released" : "still held");
  return ok && ended && status == 0 && released ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"dialog") return Dialog(argc, argv);
  std::fprintf(stderr, "usage: lumo_release_probe dialog PROGRAM [COMMAND ARGS...]\n");
  return 2;
}
