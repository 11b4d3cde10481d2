#include "platform/XpThread.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

#include <float.h>

namespace {

unsigned int ReturnSeven(void*) { return 7; }

unsigned int ReturnArgument(void* argument) { return *static_cast<unsigned int*>(argument); }

struct SelfJoin {
  XpThread* volatile self;
  HANDLE ready;
  XpResult result;
};

unsigned int JoinItself(void* argument) {
  SelfJoin* s = static_cast<SelfJoin*>(argument);
  WaitForSingleObject(s->ready, INFINITE);
  s->result = XpThread::Join(s->self);
  return 0;
}

struct Rounding {
  double positive;
  double negative;
  double product;
};

unsigned int RoundInThread(void* argument) {
  Rounding* r = static_cast<Rounding*>(argument);
  // Volatile operands force the work to happen here, at run time.
  volatile double a = 2.7;
  volatile double b = -2.7;
  volatile double x = 1.0;
  volatile double y = 10.0;
  r->positive = std::nearbyint(a);
  r->negative = std::nearbyint(b);
  r->product = x / y;
  return 0;
}

unsigned int Idle(void* argument) {
  WaitForSingleObject(static_cast<HANDLE>(argument), INFINITE);
  return 0;
}

}  // namespace

TEST(XpThreadJoin, ReturnsExitCodeOfFunction) {
  XpThread* t = XpThread::Create(&ReturnSeven, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), 7u);

  unsigned int value = 0x12345;
  t = XpThread::Create(&ReturnArgument, &value);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), 0x12345u);
}

TEST(XpThreadJoin, NullThreadIsRefused) {
  EXPECT_EQ(XpThread::Join(nullptr), XP_E_INVALID_HANDLE);
  EXPECT_EQ(XpThread::Join(nullptr), 0x8206u);
}

TEST(XpThreadJoin, SelfJoinIsRefusedAndKeepsObject) {
  SelfJoin s;
  s.self = nullptr;
  s.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s.result = 0;
  XpThread* t = XpThread::Create(&JoinItself, &s);
  ASSERT_NE(t, nullptr);
  s.self = t;
  SetEvent(s.ready);
  // The object must still be valid for this outer Join.
  EXPECT_EQ(XpThread::Join(t), 0u);
  EXPECT_EQ(s.result, 0x8205u);
  CloseHandle(s.ready);
}

TEST(XpThreadStart, RoundsTowardZero) {
  Rounding r = {0, 0, 0};
  XpThread* t = XpThread::Create(&RoundInThread, &r);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), 0u);
  EXPECT_EQ(r.positive, 2.0);
  EXPECT_EQ(r.negative, -2.0);
  // The nearest double to 1/10 lies above it, so truncation gives the one below.
  volatile double one = 1.0, ten = 10.0;
  double nearest = one / ten;  // this thread rounds to nearest
  EXPECT_LT(r.product, nearest);
}

TEST(XpThreadStart, ManyThreadsAllRun) {
  // Covers every stack offset slot at least once.
  XpThread* threads[20];
  unsigned int values[20];
  for (unsigned int i = 0; i < 20; ++i) {
    values[i] = i + 100;
    threads[i] = XpThread::Create(&ReturnArgument, &values[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  for (unsigned int i = 0; i < 20; ++i) EXPECT_EQ(XpThread::Join(threads[i]), i + 100);
}

TEST(XpThreadPriority, SetAndLower) {
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  XpThread* t = XpThread::Create(&Idle, stop);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->SetPriority(THREAD_PRIORITY_NORMAL), 0u);
  EXPECT_EQ(t->LowerPriority(), 0u);
  EXPECT_EQ(GetThreadPriority(t->GetHandle()), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_EQ(t->SetPriority(THREAD_PRIORITY_IDLE), 0u);
  // Below idle there is no valid value.
  EXPECT_EQ(t->LowerPriority(), XP_E_PRIORITY);
  EXPECT_EQ(t->SetPriority(12345), XP_E_PRIORITY);
  SetEvent(stop);
  EXPECT_EQ(XpThread::Join(t), 0u);
  CloseHandle(stop);
}

TEST(XpSystemInfo, ReportsPlausibleValues) {
  EXPECT_GE(GetProcessorCount(), 1u);
  XpMemoryStatus m = GetMemoryStatus();
  EXPECT_GT(m.totalPhysical, 0u);
  EXPECT_LE(m.availablePhysical, m.totalPhysical);
  EXPECT_GT(GetCurrentTime64(), 0);
}

TEST(XpSystemInfo, OsVersionIsTheNtFamilyUnderThisSystem) {
  DWORD platform = 99, major = 99, minor = 99;
  ASSERT_EQ(GetOsVersion(platform, &major, &minor), XP_OK);
  EXPECT_EQ(platform, XP_OS_NT);
  EXPECT_GE(major, 5u);
  EXPECT_LT(minor, 99u);
  platform = 99;
  EXPECT_EQ(GetOsVersion(platform, nullptr, nullptr), XP_OK);
  EXPECT_EQ(platform, XP_OS_NT);
}

TEST(XpSetupProcess, RoundsTowardZeroAndDeclaresDpiAwareness) {
  int savedRound = std::fegetround();
  unsigned int savedControl = _control87(0, 0);
  HMODULE user = LoadLibraryW(L"user32.dll");
  ASSERT_NE(user, nullptr);
  XpSetupProcess();
  volatile double a = 2.7;
  volatile double b = -2.7;
  double up = std::nearbyint(a);
  double down = std::nearbyint(b);
  int roundingMode = std::fegetround();
  unsigned int control = _control87(0, 0);
  std::fesetround(savedRound);
  _control87(savedControl, _MCW_RC);
  EXPECT_EQ(up, 2.0);
  EXPECT_EQ(down, -2.0);
  EXPECT_EQ(roundingMode, FE_TOWARDZERO);
  EXPECT_EQ(control & _MCW_RC, static_cast<unsigned int>(_RC_CHOP));

  typedef BOOL(WINAPI * IsAwareFn)();
  IsAwareFn isAware =
      reinterpret_cast<IsAwareFn>(reinterpret_cast<void*>(GetProcAddress(user, "IsProcessDPIAware")));
  if (isAware) {
    EXPECT_TRUE(isAware());
  }
  // Running it again is harmless.
  XpSetupProcess();
  std::fesetround(savedRound);
  _control87(savedControl, _MCW_RC);
  FreeLibrary(user);
}

namespace {
unsigned int WaitForEvent(void* argument) {
  WaitForSingleObject(static_cast<HANDLE>(argument), INFINITE);
  return 0;
}
}  // namespace

// A set keeps the threads that outlive a bounded join and joins them once
// they end; an ended thread is joined by the next start.
TEST(XpThreadSet, BoundedJoinKeepsRunningThreadsAndJoinsThemLater) {
  XpUniqueHandle go(CreateEventW(NULL, TRUE, FALSE, NULL));
  ASSERT_TRUE(go.valid());
  XpThreadSet set;
  EXPECT_TRUE(set.Empty());
  EXPECT_TRUE(set.JoinWithin(0));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(set.Start(&WaitForEvent, go.get()));
  EXPECT_FALSE(set.JoinWithin(50));
  EXPECT_FALSE(set.Empty());
  SetEvent(go.get());
  EXPECT_TRUE(set.JoinWithin(10000));
  EXPECT_TRUE(set.Empty());
  unsigned int seven = 7;
  ASSERT_TRUE(set.Start(&ReturnArgument, &seven));
  EXPECT_TRUE(set.JoinWithin(10000));
}
