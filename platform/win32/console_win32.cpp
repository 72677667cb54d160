#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/interrupts_detail.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int, char**) {
  // Output is UTF-8 throughout; the console must be told so.
  SetConsoleOutputCP(CP_UTF8);
  // Text goes out byte for byte: dumps are the same files on every system.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::wstring> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) args.emplace_back(wide[i]);
  LocalFree(wide);
  return args;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// A console, not any character device: NUL is one too, and reads as an empty file.
bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {

// Runs on a thread of its own that the system starts for the event. Ctrl+Break counts as
// Ctrl+C: both are the user's keys, and a console has no termination request to tell
// them from (closing the window ends the program regardless).
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  detail::OnInterrupt(InterruptKind::kInterrupt);
  return TRUE;
}

}  // namespace

void SetInterruptHandler(void (*handler)(), bool exitWhenIdle) {
  detail::ArmInterrupts(handler, exitWhenIdle);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

std::wstring TodayLongDate() {
  wchar_t buffer[128] = {};
  if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_LONGDATE, nullptr, nullptr, buffer, 128,
                      nullptr) == 0)
    return {};
  return buffer;
}

}  // namespace platform
