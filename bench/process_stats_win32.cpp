#include "bench/process_stats.h"

#include <windows.h>
#include <psapi.h>

// Windows keeps one peak working set per process and offers no way to start it again, so
// the phases report no peak of their own; the whole run reports the process's.
long PeakKiB() { return -1; }

void ResetPeak() {}

long ProcessPeakKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// The C runtime's clock() counts wall-clock time here, not processor time.
double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}
