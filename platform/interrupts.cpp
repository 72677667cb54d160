// The user's requests to stop, as both systems deliver them: what came first, the front
// end's handler, and the holds that put off the end of a command that writes.

#include <atomic>
#include <cstdlib>

#include "platform/console.h"
#include "platform/interrupts_detail.h"

namespace platform {

namespace {

std::atomic<int> g_received{static_cast<int>(InterruptKind::kNone)};
std::atomic<int> g_holds{0};
std::atomic<bool> g_exitWhenIdle{false};
std::atomic<void (*)()> g_handler{nullptr};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

[[noreturn]] void EndProgram() {
  // std::_Exit is safe inside a signal handler: no destructor, no buffered output.
  std::_Exit(InterruptExitStatus(ReceivedInterrupt()));
}

}  // namespace

namespace detail {

void ArmInterrupts(void (*handler)(), bool exitWhenIdle) {
  g_received = static_cast<int>(InterruptKind::kNone);
  g_handler = handler;
  g_exitWhenIdle = exitWhenIdle;
}

void OnInterrupt(InterruptKind kind) {
  int none = static_cast<int>(InterruptKind::kNone);
  g_received.compare_exchange_strong(none, static_cast<int>(kind));
  if (void (*handler)() = g_handler.load()) handler();
  if (g_exitWhenIdle && g_holds.load() == 0) EndProgram();
}

}  // namespace detail

InterruptKind ReceivedInterrupt() { return static_cast<InterruptKind>(g_received.load()); }

int InterruptExitStatus(InterruptKind kind) { return kind == InterruptKind::kTerminate ? 143 : 130; }

CHoldInterrupts::CHoldInterrupts() { ++g_holds; }

CHoldInterrupts::~CHoldInterrupts() {
  // The request came while something was held: the holder has undone it by now.
  if (--g_holds == 0 && g_exitWhenIdle && ReceivedInterrupt() != InterruptKind::kNone) EndProgram();
}

}  // namespace platform
