#pragma once
// What the command-line tool needs from the system: its arguments as text, whether
// stderr is a terminal, and today's date as the user reads it.

#include <string>
#include <vector>

namespace platform {

// The program's arguments as wide text (on Windows from the wide command line, so that
// any path can be given; elsewhere decoded from UTF-8). Also prepares the console for
// UTF-8 output, and the process so that a write past the file-size limit fails as any
// failed write does.
std::vector<std::wstring> CommandLineArguments(int argc, char** argv);

bool StderrIsTerminal();

// Calls handler when the user interrupts the program (Ctrl+C, or a termination request),
// instead of ending the process at once. The handler may run on another thread or inside
// a signal handler: it may only store to lock-free atomics.
void SetInterruptHandler(void (*handler)());

// Today's local date in the user's long date format (what a long-format date picker
// shows), e.g. "2026年12月7日" for a Chinese user.
std::wstring TodayLongDate();

}  // namespace platform
