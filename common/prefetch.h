#pragma once
// A hint that memory will be read soon. Loops that visit texts in an order other than
// their storage order use it to overlap the cache misses; it never changes a result.

inline void PrefetchText(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// A hint that memory will be written soon.
inline void PrefetchForWrite(void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address, 1);
#else
  (void)address;
#endif
}
