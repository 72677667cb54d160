// The thread helper: work's failure reaches the thread that joins it, as it would had the
// work run there.

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "common/threads.h"

namespace {

TEST(JoiningThread, WorkThrowingIsThrownAgainByJoin) {
  CJoiningThread thread;
  thread.Start([] { throw std::bad_alloc(); });
  EXPECT_THROW(thread.Join(), std::bad_alloc);
  // Once told, it is gone; a new start works as ever.
  EXPECT_NO_THROW(thread.Join());
  int ran = 0;
  thread.Start([&ran] { ran = 1; });
  thread.Join();
  EXPECT_EQ(ran, 1);
  // A thread never joined by hand drops its failure rather than end the process.
  { CJoiningThread dropped; dropped.Start([] { throw std::runtime_error("lost"); }); }
}

}  // namespace
