// The shared cancellation: epochs outlive a resume, a close is for good, and
// the end waits for counted work with a bound.
#include "platform/XpCancellation.h"

#include <gtest/gtest.h>

#include "tests/support/XpTestSupport.h"

namespace {

DWORD WINAPI HoldWork(void* argument) {
  XpCancellation* cancellation = static_cast<XpCancellation*>(argument);
  XpCancellation::Work work(*cancellation);
  // Until the test cancels: the work then ends.
  WaitForSingleObject(cancellation->event(), 20000);
  return 0;
}

TEST(XpCancellation, EpochsCloseAndBoundedWaitForWork) {
  XpCancellation c;
  ASSERT_NE(nullptr, c.event());
  LONG before = c.epoch();
  EXPECT_TRUE(c.mayContinue(before));
  c.cancel();
  EXPECT_TRUE(c.cancelled());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.event(), 0));
  c.resume();
  EXPECT_FALSE(c.cancelled());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(c.event(), 0));
  // Work begun before the cancel stays cancelled; work begun now may go on.
  EXPECT_FALSE(c.mayContinue(before));
  EXPECT_TRUE(c.mayContinue(c.epoch()));

  EXPECT_TRUE(c.waitIdle(0));
  HANDLE worker = CreateThread(NULL, 0, &HoldWork, &c, 0, NULL);
  ASSERT_NE(nullptr, worker);
  // Counted from the worker's first step on.
  EXPECT_TRUE(xptest::WaitUntil(5000, [&c]() { return !c.waitIdle(0); }));
  EXPECT_FALSE(c.waitIdle(50)) << "counted work is waited for";
  c.close();
  EXPECT_TRUE(c.waitIdle(10000));
  WaitForSingleObject(worker, 10000);
  CloseHandle(worker);
  c.resume();
  EXPECT_TRUE(c.cancelled()) << "a closed cancellation is not resumed";
  EXPECT_FALSE(c.mayContinue(c.epoch()));
}

}  // namespace
