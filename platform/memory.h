#pragma once
// How the C runtime treats large blocks of memory.

#include <cstddef>

namespace platform {

// Has blocks of at least bytes come straight from the system and go straight back to it
// when freed, so that memory let go of stops counting against the process before the next
// large structure is made, whatever lies beside it.
void ReturnLargeBlocksWhenFreed(size_t bytes);

}  // namespace platform
