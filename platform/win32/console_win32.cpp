#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/console.h"

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

namespace {

void (*g_interruptHandler)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  if (g_interruptHandler) g_interruptHandler();
  return TRUE;
}

}  // namespace

void SetInterruptHandler(void (*handler)()) {
  g_interruptHandler = handler;
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
