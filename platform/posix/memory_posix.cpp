#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void ReturnLargeBlocksWhenFreed(size_t bytes) {
#if defined(__GLIBC__)
  // glibc serves blocks under its mapping threshold from heaps, which keep freed memory
  // resident unless it lies at their top, and it raises that threshold to the size of
  // every mapped block freed. A fixed threshold keeps it where it is.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes));
#else
  (void)bytes;
#endif
}

}  // namespace platform
