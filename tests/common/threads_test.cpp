#include "common/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

TEST(Threads, CountIsNeverZero) {
  EXPECT_GE(ThreadCount(0), 1u);
  EXPECT_EQ(ThreadCount(1), 1u);
  EXPECT_EQ(ThreadCount(5), 5u);
}

// Whatever thread ran it, the work is over once Join or the destructor returns, and it ran
// exactly once; a second Start joins the first work before it begins.
TEST(Threads, WorkIsDoneByJoinAndByTheDestructor) {
  std::atomic<int> runs{0};
  const auto slowWork = [&runs] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ++runs;
  };
  {
    CJoiningThread thread;
    thread.Start(slowWork);
    thread.Join();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(thread.Started());
    thread.Start(slowWork);
    thread.Start(slowWork);
  }
  EXPECT_EQ(runs, 3);
}

}  // namespace
