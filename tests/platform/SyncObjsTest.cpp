#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/SyncObjs.h"

TEST(SyncObjs, MultiThreadedOnlyWhileASecondThreadRuns) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::thread second([released] { released.wait(); });
  EXPECT_TRUE(IsMultiThread());
  release.set_value();
  second.join();
  EXPECT_FALSE(IsMultiThread());
}

TEST(SyncObjs, CriticalSectionIsReentrant) {
  TCriticalSection lock;
  lock.Enter();
  lock.Enter();  // the same thread again: no deadlock
  lock.Leave();
  lock.Leave();
  int counter = 0;
  std::thread other([&] {
    lock.Enter();
    ++counter;
    lock.Leave();
  });
  other.join();
  EXPECT_EQ(counter, 1);
}
