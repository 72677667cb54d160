#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/utf.h"
#include "platform/console.h"
#include "platform/interrupts_detail.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int argc, char** argv) {
  // A write past the file-size limit (ulimit -f) then fails with EFBIG and is reported,
  // temporary files cleaned up, instead of the signal ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8ToWideText(argv[i]));
  return args;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

namespace {

void OnSignal(int signal) {
  const int saved = errno;  // the interrupted code may be about to read it
  detail::OnInterrupt(signal == SIGTERM ? InterruptKind::kTerminate : InterruptKind::kInterrupt);
  errno = saved;
}

}  // namespace

void SetInterruptHandler(void (*handler)(), bool exitWhenIdle) {
  detail::ArmInterrupts(handler, exitWhenIdle);
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

namespace {

std::string LocaleName() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

}  // namespace

// The long date patterns Windows uses for these languages; others get the US English one.
std::wstring TodayLongDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string locale = LocaleName();
  const int year = local.tm_year + 1900;
  const int month = local.tm_mon + 1;
  const int day = local.tm_mday;
  if (locale.rfind("zh", 0) == 0 || locale.rfind("ja", 0) == 0)
    return std::to_wstring(year) + L"年" + std::to_wstring(month) + L"月" +
           std::to_wstring(day) + L"日";
  static const wchar_t* const kDays[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                         L"Thursday", L"Friday", L"Saturday"};
  static const wchar_t* const kMonths[] = {L"January", L"February", L"March",     L"April",
                                           L"May",     L"June",     L"July",      L"August",
                                           L"September", L"October", L"November", L"December"};
  return std::wstring(kDays[local.tm_wday]) + L", " + kMonths[local.tm_mon] + L" " +
         std::to_wstring(day) + L", " + std::to_wstring(year);
}

}  // namespace platform
