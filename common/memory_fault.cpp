#include "common/memory_fault.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int64_t> g_count{0};
std::atomic<int64_t> g_failAt{0};

}  // namespace

void NoteLargeAllocation() {
  const int64_t failAt = g_failAt.load(std::memory_order_relaxed);
  const int64_t n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  if (failAt > 0 && n == failAt) throw std::bad_alloc();
}

CAllocationFault::CAllocationFault(int64_t failAt) {
  g_count.store(0);
  g_failAt.store(failAt);
}

CAllocationFault::~CAllocationFault() { g_failAt.store(0); }

int64_t CAllocationFault::Count() const { return g_count.load(); }
