#pragma once
// The large allocations of a conversion (text blocks, the entry list, the sort keys and
// scratch, the write and compression buffers) announce themselves here first, so that a
// test can make any one of them fail as a lack of memory does: with std::bad_alloc, on
// whichever thread makes it.

#include <cstdint>

// Throws std::bad_alloc when a test has planned this allocation to fail.
void NoteLargeAllocation();

// For tests: while it lives, the nth large allocation from its start fails (counted from
// 1; 0: none fails); every one is counted. One at a time.
class CAllocationFault {
 public:
  explicit CAllocationFault(int64_t failAt);
  ~CAllocationFault();
  CAllocationFault(const CAllocationFault&) = delete;
  CAllocationFault& operator=(const CAllocationFault&) = delete;

  int64_t Count() const;
};
