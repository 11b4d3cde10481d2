#include "platform/XpSync.h"
#include "platform/XpThread.h"

#include <gtest/gtest.h>

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
    XpResult Lock() override { ++locks; return lockResult; }
    XpResult Unlock() override { ++unlocks; return XP_OK; }
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
    sem.Unlock();
    sem.Unlock();
    while (w.passed < 2) XpThread::Sleep(1);
    XpThread::Sleep(50);
    EXPECT_EQ(w.passed, 2);  // the third still waits: nothing left to take
    sem.Unlock();
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
