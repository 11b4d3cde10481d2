#include "platform/XpSync.h"
#include "platform/XpThread.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "tests/support/XpTestSupport.h"

namespace {

// Counts how many waiters got through their lock.
struct Waiters {
  XpComboSyncObject* object;
  volatile LONG started;
  volatile LONG passed;
  int timeout;
};

unsigned int WaitOnObject(void* argument) {
  Waiters* w = static_cast<Waiters*>(argument);
  InterlockedIncrement(&w->started);
  XpResult r = w->object->LockTimeout(w->timeout);
  if (r == XP_OK) InterlockedIncrement(&w->passed);
  return r;
}

void WaitUntilStarted(Waiters& w, LONG count) {
  while (w.started < count) XpThread::Sleep(1);
  XpThread::Sleep(50);  // give them time to go to sleep inside the lock
}

unsigned int TryLockFromOtherThread(void* argument) {
  XpSyncObject* object = static_cast<XpSyncObject*>(argument);
  XpResult r = object->TryLock();
  if (r == XP_OK) object->Unlock();
  return r;
}

// A sync object that records calls, to check what the guard does.
class Recorder : public XpSyncObject {
 public:
  explicit Recorder(XpResult lockResult) : lockResult(lockResult) {}
  XpResult Lock() override {
    ++locks;
    return lockResult;
  }
  XpResult Unlock() override {
    ++unlocks;
    return XP_OK;
  }
  XpResult TryLock() override { return lockResult; }
  XpResult lockResult;
  int locks = 0;
  int unlocks = 0;
};

}  // namespace

TEST(XpCriticalSection, TryLockIsNotSupported) {
  XpCriticalSection cs;
  EXPECT_EQ(cs.TryLock(), 0x8203u);
  // Free before and after: another thread may still enter.
  EXPECT_EQ(cs.Lock(), 0u);
  EXPECT_EQ(cs.Lock(), 0u);  // recursive
  EXPECT_EQ(cs.TryLock(), XP_E_SYNC_NOT_SUPPORTED);
  EXPECT_EQ(cs.Unlock(), 0u);
  EXPECT_EQ(cs.Unlock(), 0u);
}

TEST(XpSingleLock, LocksAndUnlocksOnSuccess) {
  Recorder r(XP_OK);
  {
    XpSingleLock guard(&r);
    EXPECT_EQ(guard.GetResult(), 0u);
    EXPECT_EQ(r.locks, 1);
    EXPECT_EQ(r.unlocks, 0);
  }
  EXPECT_EQ(r.unlocks, 1);
}

TEST(XpSingleLock, FailedLockIsNotUnlocked) {
  Recorder r(XP_E_TIMEOUT);
  {
    XpSingleLock guard(&r);
    EXPECT_EQ(guard.GetResult(), XP_E_TIMEOUT);
  }
  EXPECT_EQ(r.unlocks, 0);
}

TEST(XpSingleLock, NullObjectDoesNothing) {
  XpSingleLock guard(nullptr);
  EXPECT_EQ(guard.GetResult(), 0u);
}

TEST(XpSingleLock, HoldsSemaphoreForItsLifetime) {
  XpSemaphore sem(1, 1);
  {
    XpSingleLock guard(&sem);
    EXPECT_EQ(guard.GetResult(), 0u);
    EXPECT_EQ(sem.TryLock(), XP_E_TIMEOUT);
  }
  EXPECT_EQ(sem.TryLock(), 0u);
}

TEST(XpManualEvent, SetEventLetsEveryLockThrough) {
  XpManualEvent ev(true);
  EXPECT_EQ(ev.Lock(), 0u);
  EXPECT_EQ(ev.Lock(), 0u);
  EXPECT_EQ(ev.TryLock(), 0u);
  ev.Set(false);
  EXPECT_EQ(ev.TryLock(), XP_E_TIMEOUT);
  EXPECT_EQ(ev.Unlock(), 0u);
  EXPECT_EQ(ev.TryLock(), 0u);
}

TEST(XpManualEvent, ClearEventTimesOut) {
  XpManualEvent ev(false);
  EXPECT_EQ(ev.TryLock(), 0x8201u);
  EXPECT_EQ(ev.LockTimeout(1), 0x8201u);
}

TEST(XpManualEvent, SetWakesAllWaiters) {
  XpManualEvent ev(false);
  Waiters w = {&ev, 0, 0, -1};
  XpThread* t[4];
  for (auto& p : t) {
    p = XpThread::Create(&WaitOnObject, &w);
    ASSERT_NE(p, nullptr);
  }
  WaitUntilStarted(w, 4);
  EXPECT_EQ(w.passed, 0);
  ev.Set(true);
  for (auto& p : t) EXPECT_EQ(XpThread::Join(p), 0u);
  EXPECT_EQ(w.passed, 4);
}

TEST(XpSemaphore, CountRespectsMaximum) {
  XpSemaphore sem(1, 1);
  EXPECT_EQ(sem.Unlock(), 0u);  // already at the maximum: stays at 1
  EXPECT_EQ(sem.TryLock(), 0u);
  EXPECT_EQ(sem.TryLock(), XP_E_TIMEOUT);
}

TEST(XpSemaphore, NoMaximumAlwaysCountsUp) {
  XpSemaphore sem(0, XpSemaphore::kNoMaximum);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sem.Unlock(), 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sem.TryLock(), 0u);
  EXPECT_EQ(sem.TryLock(), XP_E_TIMEOUT);
}

TEST(XpSemaphore, EmptySemaphoreTimesOut) {
  XpSemaphore sem(0, XpSemaphore::kNoMaximum);
  EXPECT_EQ(sem.LockTimeout(2), 0x8201u);
}

TEST(XpSemaphore, ReleasesWakeExactlyAsManyWaiters) {
  XpSemaphore sem(0, XpSemaphore::kNoMaximum);
  Waiters w = {&sem, 0, 0, -1};
  XpThread* t[3];
  for (auto& p : t) {
    p = XpThread::Create(&WaitOnObject, &w);
    ASSERT_NE(p, nullptr);
  }
  WaitUntilStarted(w, 3);
  EXPECT_EQ(w.passed, 0);
  EXPECT_EQ(XP_OK, sem.Unlock());
  EXPECT_EQ(XP_OK, sem.Unlock());
  while (w.passed < 2) XpThread::Sleep(1);
  XpThread::Sleep(50);
  EXPECT_EQ(w.passed, 2);  // the third still waits: nothing left to take
  EXPECT_EQ(XP_OK, sem.Unlock());
  for (auto& p : t) EXPECT_EQ(XpThread::Join(p), 0u);
  EXPECT_EQ(w.passed, 3);
  EXPECT_EQ(sem.TryLock(), XP_E_TIMEOUT);
}

TEST(XpMutex, RecursiveInSameThread) {
  XpMutex m(nullptr);
  EXPECT_EQ(m.Lock(), 0u);
  EXPECT_EQ(m.Lock(), 0u);
  EXPECT_EQ(m.Unlock(), 0u);
  // Still held once: another thread cannot take it.
  XpThread* t = XpThread::Create(&TryLockFromOtherThread, &m);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), XP_E_TIMEOUT);
  EXPECT_EQ(m.Unlock(), 0u);
  t = XpThread::Create(&TryLockFromOtherThread, &m);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), 0u);
}

TEST(XpMutex, OnlyNoWaitOrNoLimitAccepted) {
  XpMutex m(nullptr);
  EXPECT_EQ(m.LockTimeout(2), 0x8206u);
  EXPECT_EQ(m.LockTimeout(0), 0u);
  EXPECT_EQ(m.Unlock(), 0u);
}

TEST(XpMutex, UnlockByNonOwnerChangesNothing) {
  XpMutex m(nullptr);
  EXPECT_EQ(m.Unlock(), 0u);  // not held
  EXPECT_EQ(m.Lock(), 0u);
  EXPECT_EQ(m.Unlock(), 0u);
}

TEST(XpMutex, SameNameExcludesSecondObject) {
  const wchar_t* name = L"XpSyncTestMutexSameName";
  XpMutex first(name);
  XpMutex second(name);
  EXPECT_EQ(first.Lock(), 0u);
  // The second object is free in-process but the system mutex is held
  // (by this thread, so try from another).
  XpThread* t = XpThread::Create(&TryLockFromOtherThread, &second);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(XpThread::Join(t), 0u);
  EXPECT_EQ(first.Unlock(), 0u);
}

namespace {

struct ReaderTry {
  XpRwLock* plain;
  XpRwLockEx* ex;
  int seconds;
};

unsigned int TakeReadAndRelease(void* argument) {
  ReaderTry* t = static_cast<ReaderTry*>(argument);
  XpResult r = t->plain ? t->plain->LockReadTimeout(t->seconds) : t->ex->LockReadTimeout(t->seconds);
  if (r == XP_OK) {
    if (t->plain)
      t->plain->Unlock();
    else
      t->ex->Unlock();
  }
  return r;
}

struct ExReader {
  XpRwLockEx* lock;
  HANDLE locked;
  HANDLE release;
};

unsigned int HoldReadUntilReleased(void* argument) {
  ExReader* r = static_cast<ExReader*>(argument);
  XpResult result = r->lock->LockReadTimeout(-1);
  SetEvent(r->locked);
  WaitForSingleObject(r->release, INFINITE);
  if (result == XP_OK) r->lock->Unlock();
  return result;
}

unsigned int SetAfterDelay(void* argument) {
  XpThread::Sleep(100);
  static_cast<XpManualEvent*>(argument)->Set(true);
  return 0;
}

}  // namespace

TEST(XpRwLock, WriterIsRecursiveAndExcludesReaders) {
  XpRwLock lock;
  EXPECT_EQ(lock.Lock(), 0u);
  EXPECT_EQ(lock.Lock(), 0u);
  ReaderTry t = {&lock, nullptr, 0};
  XpThread* th = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(XpThread::Join(th), XP_E_TIMEOUT);
  EXPECT_EQ(lock.Unlock(), 0u);
  th = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(XpThread::Join(th), XP_E_TIMEOUT);  // one write level still held
  EXPECT_EQ(lock.Unlock(), 0u);
  th = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(XpThread::Join(th), 0u);
}

TEST(XpRwLock, ReadersShareAndBlockWriter) {
  XpRwLock lock;
  EXPECT_EQ(lock.TryLockRead(), 0u);
  EXPECT_EQ(lock.TryLockRead(), 0u);
  EXPECT_EQ(lock.TryLock(), XP_E_TIMEOUT);
  EXPECT_EQ(lock.Unlock(), 0u);
  EXPECT_EQ(lock.TryLock(), XP_E_TIMEOUT);
  EXPECT_EQ(lock.Unlock(), 0u);
  EXPECT_EQ(lock.TryLock(), 0u);
  EXPECT_EQ(lock.Unlock(), 0u);
}

TEST(XpRwLock, NewReaderWaitsWhileWriterWaits) {
  XpRwLock lock;
  EXPECT_EQ(lock.TryLockRead(), 0u);
  Waiters writer = {&lock, 0, 0, -1};
  XpThread* w = XpThread::Create(&WaitOnObject, &writer);
  ASSERT_NE(w, nullptr);
  WaitUntilStarted(writer, 1);
  ReaderTry t = {&lock, nullptr, 1};
  XpThread* r = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(XpThread::Join(r), XP_E_TIMEOUT);
  EXPECT_EQ(writer.passed, 0);
  EXPECT_EQ(lock.Unlock(), 0u);  // last reader leaves: the writer gets in
  // The writer thread ends holding the write lock; nothing else uses it.
  EXPECT_EQ(XpThread::Join(w), 0u);
  EXPECT_EQ(writer.passed, 1);
}

TEST(XpRwLockEx, OnlyReaderMayUpgrade) {
  XpRwLockEx lock;
  EXPECT_EQ(lock.TryLockRead(), 0u);
  EXPECT_EQ(lock.TryLock(), 0u);      // upgrade
  EXPECT_EQ(lock.TryLockRead(), 0u);  // the writer reads as another write level
  ReaderTry t = {nullptr, &lock, 0};
  XpThread* th = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(XpThread::Join(th), XP_E_TIMEOUT);
  EXPECT_EQ(lock.Unlock(), 0u);
  EXPECT_EQ(lock.Unlock(), 0u);  // write levels gone, the read entry stays
  th = XpThread::Create(&TakeReadAndRelease, &t);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(XpThread::Join(th), 0u);
  EXPECT_EQ(lock.Unlock(), 0u);
}

TEST(XpRwLockEx, TwoReadersMakeWriterWait) {
  XpRwLockEx lock;
  xptest::Handle locked = xptest::MakeEvent(), release = xptest::MakeEvent();
  ExReader other = {&lock, locked.get(), release.get()};
  XpThread* th = XpThread::Create(&HoldReadUntilReleased, &other);
  ASSERT_NE(th, nullptr);
  // No early return: the thread reads this frame until it is joined.
  EXPECT_EQ(WaitForSingleObject(other.locked, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(lock.TryLockRead(), 0u);
  EXPECT_EQ(lock.TryLock(), XP_E_TIMEOUT);
  SetEvent(other.release);
  EXPECT_EQ(XpThread::Join(th), 0u);
  EXPECT_EQ(lock.TryLock(), 0u);  // now the only reader
  EXPECT_EQ(lock.Unlock(), 0u);
  EXPECT_EQ(lock.Unlock(), 0u);
}

TEST(XpMultiLockOne, ReportsTheSetObject) {
  XpManualEvent a(false), b(true);
  XpSemaphore wake(0, XpSemaphore::kNoMaximum);
  XpMultiLockOne m(false, &a, &b, &wake, 1);
  EXPECT_EQ(m.GetResult(), 0u);
  EXPECT_EQ(m.GetIndex(), 1);
  EXPECT_EQ(m.GetAcquired(), &b);
}

TEST(XpMultiLockOne, NoneSetTimesOut) {
  XpManualEvent a(false), b(false);
  XpSemaphore wake(0, XpSemaphore::kNoMaximum);
  XpMultiLockOne m(false, &a, &b, &wake, 1);
  EXPECT_EQ(m.GetResult(), 0x8201u);
  EXPECT_EQ(m.GetIndex(), -1);
  EXPECT_EQ(m.GetAcquired(), nullptr);
}

TEST(XpMultiLockOne, WokenByLaterChange) {
  XpManualEvent a(false), b(false);
  XpSemaphore wake(0, XpSemaphore::kNoMaximum);
  XpThread* th = XpThread::Create(&SetAfterDelay, &b);
  ASSERT_NE(th, nullptr);
  XpMultiLockOne m(false, &a, &b, &wake, -1);
  EXPECT_EQ(m.GetResult(), 0u);
  EXPECT_EQ(m.GetIndex(), 1);
  EXPECT_EQ(XpThread::Join(th), 0u);
}

TEST(XpMultiLockAll, TakesEveryObjectAndAutoUnlocks) {
  XpSemaphore s1(1, 1), s2(0, 1);
  XpSemaphore wake(0, XpSemaphore::kNoMaximum);
  std::vector<XpComboSyncObject*> objects;
  objects.push_back(&s1);
  objects.push_back(&s2);
  {
    XpMultiLockAll m(true, objects, &wake, 1);
    EXPECT_EQ(m.GetResult(), 0x8201u);
    ASSERT_EQ(m.GetAcquired().size(), 1u);  // s1 stays acquired after the failure
    EXPECT_EQ(m.GetAcquiredIndices()[0], 0);
    EXPECT_EQ(s1.TryLock(), XP_E_TIMEOUT);
  }
  EXPECT_EQ(s1.TryLock(), 0u);  // given back by auto-unlock
  EXPECT_EQ(XP_OK, s1.Unlock());
  EXPECT_EQ(XP_OK, s2.Unlock());
  {
    XpMultiLockAll m(true, objects, &wake, 1);
    EXPECT_EQ(m.GetResult(), 0u);
    ASSERT_EQ(m.GetAcquiredIndices().size(), 2u);
    EXPECT_EQ(m.GetAcquiredIndices()[0], 1);  // tried from the last to the first
    EXPECT_EQ(m.GetAcquiredIndices()[1], 0);
  }
  EXPECT_EQ(s1.TryLock(), 0u);
  EXPECT_EQ(s2.TryLock(), 0u);
}

TEST(XpWaitResult, MapsWaitResultsAndLastErrors) {
  EXPECT_EQ(XpMapWaitResult(WAIT_OBJECT_0), XP_OK);
  EXPECT_EQ(XpMapWaitResult(WAIT_ABANDONED), XP_E_ABANDONED);
  EXPECT_EQ(XpMapWaitResult(WAIT_TIMEOUT), XP_E_TIMEOUT);
  const DWORD errors[] = {0, ERROR_INVALID_HANDLE, ERROR_NOT_OWNER, ERROR_ACCESS_DENIED};
  const XpResult mapped[] = {XP_OK, XP_E_INVALID_HANDLE, XP_E_NOT_OWNER, XP_E_SYNC};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(XpMapLastError(errors[i]), mapped[i]);
    SetLastError(errors[i]);
    EXPECT_EQ(XpMapWaitResult(WAIT_FAILED), mapped[i]) << errors[i];
  }
  // A real failed wait: the handle is not valid.
  SetLastError(0);
  EXPECT_EQ(XpMapWaitResult(WaitForSingleObject(NULL, 0)), XP_E_INVALID_HANDLE);
}

namespace {

// The mutex helper that is built next to this test program, started with a
// mode and a name. An owner ends it if a failed assertion ends the test first.
bool StartMutexChild(const wchar_t* mode, const wchar_t* name, xptest::ChildProcess* child) {
  std::wstring line =
      xptest::Quoted(xptest::ProgramDir() + L"xp_mutex_child.exe") + L" " + mode + L" " + name;
  return child->Start(line);
}

// Runs the mutex helper to its end; its exit code, or 0xFFFFFFFF if it could
// not be started or did not end within a minute.
DWORD RunMutexChild(const wchar_t* mode, const wchar_t* name) {
  xptest::ChildProcess child;
  if (!StartMutexChild(mode, name, &child) || !child.Wait(60000)) return 0xFFFFFFFFu;
  return child.ExitCode();
}

xptest::Handle ChildEvent(const wchar_t* name, const wchar_t* suffix) {
  return xptest::MakeEvent((std::wstring(name) + suffix).c_str());
}

}  // namespace

TEST(XpMutex, NamedMutexExcludesAnotherProcess) {
  wchar_t name[64];
  swprintf(name, 64, L"XpSyncTestCrossProcess%lu", GetCurrentProcessId());
  XpMutex mine(name);

  // Held here: the other process cannot take it, and gets the time-out code.
  ASSERT_EQ(mine.Lock(), XP_OK);
  EXPECT_EQ(RunMutexChild(L"try", name), XP_E_TIMEOUT);
  EXPECT_EQ(mine.Unlock(), XP_OK);
  EXPECT_EQ(RunMutexChild(L"try", name), XP_OK);

  // Held there: this process is excluded until the other one lets go.
  xptest::Handle held = ChildEvent(name, L"Held");
  xptest::Handle release = ChildEvent(name, L"Release");
  xptest::ChildProcess child;
  ASSERT_TRUE(StartMutexChild(L"hold", name, &child));
  ASSERT_EQ(WaitForSingleObject(held.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(mine.TryLock(), XP_E_TIMEOUT);
  SetEvent(release.get());
  ASSERT_TRUE(child.Wait(60000));
  EXPECT_EQ(child.ExitCode(), 0u);
  EXPECT_EQ(mine.TryLock(), XP_OK);
  EXPECT_EQ(mine.Unlock(), XP_OK);
}

TEST(XpMutex, AbandonedByAnotherProcessIsReportedOnceAndFreed) {
  wchar_t name[64];
  swprintf(name, 64, L"XpSyncTestAbandoned%lu", GetCurrentProcessId());
  XpMutex mine(name);
  xptest::Handle held = ChildEvent(name, L"Held");
  xptest::ChildProcess child;
  ASSERT_TRUE(StartMutexChild(L"abandon", name, &child));
  ASSERT_TRUE(child.Wait(60000));
  EXPECT_EQ(WaitForSingleObject(held.get(), 0), WAIT_OBJECT_0);  // it did hold the mutex
  EXPECT_EQ(mine.TryLock(), XP_E_ABANDONED);
  // The failed attempt left nothing held: another thread may take it now.
  XpThread* t = XpThread::Create(&TryLockFromOtherThread, &mine);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(XpThread::Join(t), XP_OK);
  EXPECT_EQ(mine.Lock(), XP_OK);
  EXPECT_EQ(mine.Unlock(), XP_OK);
}
