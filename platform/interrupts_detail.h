#pragma once
// Internal to platform/: how each system's signal or console handler reports a request to
// stop to the portable part (interrupts.cpp).

#include "platform/console.h"

namespace platform::detail {

// Forgets any earlier request and keeps the front end's choices; called before the
// system's handler is installed.
void ArmInterrupts(void (*handler)(), bool exitWhenIdle);
// A request arrived: remembered, the front end's handler called, and the program ended
// when nothing is held. Safe inside a signal handler.
void OnInterrupt(InterruptKind kind);

}  // namespace platform::detail
