// Lockable objects of the platform layer. Every lock reports an XpResult;
// time-outs are whole seconds, -1 waits without limit and 0 does not wait.
#pragma once

#include <windows.h>

#include "XpResult.h"

class XpSyncObject {
public:
    virtual XpResult Lock() = 0;
    // For events and semaphores this signals rather than releases.
    virtual XpResult Unlock() = 0;
    virtual XpResult TryLock() = 0;
    virtual ~XpSyncObject() {}
};

// In-process recursive lock; the cheapest one, also guards the combo objects.
class XpCriticalSection : public XpSyncObject {
public:
    XpCriticalSection();
    XpResult Lock() override;
    XpResult Unlock() override;
    // Not offered: always XP_E_SYNC_NOT_SUPPORTED, never locks.
    XpResult TryLock() override;
    ~XpCriticalSection() override;

private:
    XpCriticalSection(const XpCriticalSection&) = delete;
    XpCriticalSection& operator=(const XpCriticalSection&) = delete;
    CRITICAL_SECTION m_section;
};

// Scoped guard; a null object is accepted and never touched.
class XpSingleLock {
public:
    explicit XpSingleLock(XpSyncObject* object);
    virtual ~XpSingleLock();
    XpResult GetResult() const { return m_result; }

private:
    XpSingleLock(const XpSingleLock&) = delete;
    XpSingleLock& operator=(const XpSingleLock&) = delete;
    XpSyncObject* m_object;
    XpResult m_result;
};

// Maps a Win32 wait result (and, for failures, the last error) to an XpResult.
XpResult XpMapWaitResult(DWORD waitResult);
XpResult XpMapLastError(DWORD error);

// State lives in plain fields under m_lock; one manual-reset event is where
// waiters sleep until the state may have changed, so waiters always re-test.
class XpComboSyncObject : public XpSyncObject {
public:
    XpComboSyncObject();
    XpResult Lock() override { return LockTimeout(-1); }
    XpResult Unlock() override = 0;
    XpResult TryLock() override { return LockTimeout(0); }
    ~XpComboSyncObject() override;
    virtual XpResult LockTimeout(int seconds) = 0;

protected:
    // Both are called with m_lock held.
    XpResult WaitForChange(int seconds);
    void NotifyChange();

    XpCriticalSection m_lock;

private:
    XpComboSyncObject(const XpComboSyncObject&) = delete;
    XpComboSyncObject& operator=(const XpComboSyncObject&) = delete;
    HANDLE m_event;
};

class XpManualEvent : public XpComboSyncObject {
public:
    explicit XpManualEvent(bool initiallySet);
    // Unlock sets the flag; waiting never clears it.
    XpResult Unlock() override;
    XpResult LockTimeout(int seconds) override;
    void Set(bool value);

private:
    LONG m_signalled;
};

class XpSemaphore : public XpComboSyncObject {
public:
    static const DWORD kNoMaximum = 0xFFFFFFFFu;
    XpSemaphore(unsigned long long initialCount, DWORD maximum);
    XpResult Unlock() override;
    XpResult LockTimeout(int seconds) override;

private:
    unsigned long long m_count;
    DWORD m_maximum;
};

// Recursive in-process lock that also holds a named system-wide Win32 mutex
// while held, so other processes using the same name are excluded too.
class XpMutex : public XpComboSyncObject {
public:
    explicit XpMutex(const wchar_t* name);
    XpResult Unlock() override;
    // Only -1 and 0 are accepted; other time-outs give XP_E_INVALID_HANDLE.
    XpResult LockTimeout(int seconds) override;
    ~XpMutex() override;

private:
    DWORD m_owner;
    LONG m_recursion;
    HANDLE m_mutex;
};
