#include "platform/memory.h"

namespace platform {

// The heap already maps blocks of half a megabyte and more on their own and unmaps them
// when they are freed.
void ReturnLargeBlocksWhenFreed(size_t) {}

}  // namespace platform
