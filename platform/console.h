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
// Whether standard input is a terminal (on Windows a console), where nobody types a
// package: a command reading one from there refuses rather than wait.
bool StdinIsTerminal();

// What asked the program to stop.
enum class InterruptKind {
  kNone,
  kInterrupt,  // Ctrl+C (SIGINT); on Windows Ctrl+Break as well
  kTerminate,  // a termination request (SIGTERM)
};

// Takes the user's requests to stop (Ctrl+C, or a termination request) instead of ending
// the process at once: the first one is remembered (ReceivedInterrupt) and handler, when
// given, is called. The handler may run on another thread or inside a signal handler: it
// may only store to lock-free atomics.
//
// With exitWhenIdle, a request ends the program at once, with InterruptExitStatus, while
// no CHoldInterrupts is alive, and otherwise as soon as the last one goes: a command that
// writes holds one for as long as something of its own would be left behind (a temporary
// file, a folder it is filling), and undoes that when it sees the request.
void SetInterruptHandler(void (*handler)(), bool exitWhenIdle = false);

// The first request received since SetInterruptHandler; kNone when there was none.
InterruptKind ReceivedInterrupt();

// The exit status of a program stopped by such a request, as shells give it for a program
// ended by the signal: 130 after SIGINT, 143 after SIGTERM.
int InterruptExitStatus(InterruptKind kind);

// While alive, a request to stop is only remembered (see SetInterruptHandler). Holds nest.
class CHoldInterrupts {
 public:
  CHoldInterrupts();
  ~CHoldInterrupts();
  CHoldInterrupts(const CHoldInterrupts&) = delete;
  CHoldInterrupts& operator=(const CHoldInterrupts&) = delete;
};

// Today's local date in the user's long date format (what a long-format date picker
// shows), e.g. "2026年12月7日" for a Chinese user.
std::wstring TodayLongDate();

}  // namespace platform
