#include "XpSync.h"

XpCriticalSection::XpCriticalSection() { InitializeCriticalSection(&m_section); }
XpCriticalSection::~XpCriticalSection() { DeleteCriticalSection(&m_section); }

XpResult XpCriticalSection::Lock() {
    EnterCriticalSection(&m_section);
    return XP_OK;
}

XpResult XpCriticalSection::Unlock() {
    LeaveCriticalSection(&m_section);
    return XP_OK;
}

XpResult XpCriticalSection::TryLock() { return XP_E_SYNC_NOT_SUPPORTED; }

XpSingleLock::XpSingleLock(XpSyncObject* object) : m_object(object), m_result(XP_OK) {
    if (m_object) m_result = m_object->Lock();
}

XpSingleLock::~XpSingleLock() {
    if (m_object && m_result == XP_OK) m_object->Unlock();
}

XpResult XpMapLastError(DWORD error) {
    switch (error) {
    case 0: return XP_OK;
    case ERROR_INVALID_HANDLE: return XP_E_INVALID_HANDLE;
    case ERROR_NOT_OWNER: return XP_E_NOT_OWNER;
    default: return XP_E_SYNC;
    }
}

XpResult XpMapWaitResult(DWORD waitResult) {
    switch (waitResult) {
    case WAIT_OBJECT_0: return XP_OK;
    case WAIT_ABANDONED: return XP_E_ABANDONED;
    case WAIT_TIMEOUT: return XP_E_TIMEOUT;
    default: return XpMapLastError(GetLastError());
    }
}

XpComboSyncObject::XpComboSyncObject() : m_event(CreateEventW(NULL, TRUE, FALSE, NULL)) {}

XpComboSyncObject::~XpComboSyncObject() {
    if (m_event) CloseHandle(m_event);
}

XpResult XpComboSyncObject::WaitForChange(int seconds) {
    ResetEvent(m_event);
    m_lock.Unlock();
    DWORD ms = seconds < 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000u;
    DWORD w = WaitForSingleObject(m_event, ms);
    XpResult r = XpMapWaitResult(w);
    m_lock.Lock();
    return r;
}

void XpComboSyncObject::NotifyChange() {
    // The pulse wakes current sleepers; leaving the event set covers a waiter
    // that has left m_lock but not yet started waiting.
    PulseEvent(m_event);
    SetEvent(m_event);
}

XpManualEvent::XpManualEvent(bool initiallySet) : m_signalled(initiallySet ? 1 : 0) {}

XpResult XpManualEvent::Unlock() {
    Set(true);
    return XP_OK;
}

void XpManualEvent::Set(bool value) {
    XpSingleLock guard(&m_lock);
    m_signalled = value ? 1 : 0;
    if (value) NotifyChange();
}

XpResult XpManualEvent::LockTimeout(int seconds) {
    XpSingleLock guard(&m_lock);
    XpResult r = XP_OK;
    while (!m_signalled && r == XP_OK) r = WaitForChange(seconds);
    return r;
}

XpSemaphore::XpSemaphore(unsigned long long initialCount, DWORD maximum)
    : m_count(initialCount), m_maximum(maximum) {}

XpResult XpSemaphore::LockTimeout(int seconds) {
    XpSingleLock guard(&m_lock);
    if (m_count > 0) {
        --m_count;
        return XP_OK;
    }
    for (;;) {
        XpResult r = WaitForChange(seconds);
        if (m_count > 0) {
            if (r != XP_OK) return r;
            --m_count;
            return XP_OK;
        }
        if (r != XP_OK) return r;
    }
}

XpResult XpSemaphore::Unlock() {
    XpSingleLock guard(&m_lock);
    if (m_maximum == kNoMaximum || m_count < m_maximum) ++m_count;
    if (m_count > 0) NotifyChange();
    return XP_OK;
}

XpMutex::XpMutex(const wchar_t* name) : m_owner(0), m_recursion(0), m_mutex(NULL) {
    // A null DACL lets processes of any user open the same name.
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof(sa);
    sa.bInheritHandle = FALSE;
    sa.lpSecurityDescriptor = NULL;
    if (InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE))
        sa.lpSecurityDescriptor = &sd;
    m_mutex = CreateMutexW(&sa, FALSE, name);
}

XpMutex::~XpMutex() {
    if (m_mutex) CloseHandle(m_mutex);
}

XpResult XpMutex::LockTimeout(int seconds) {
    if (seconds != -1 && seconds != 0) return XP_E_INVALID_HANDLE;
    DWORD self = GetCurrentThreadId();
    bool outermost = false;
    {
        XpSingleLock guard(&m_lock);
        for (;;) {
            if (m_recursion <= 0 || m_owner == self) {
                ++m_recursion;
                m_owner = self;
                outermost = (m_recursion == 1);
                break;
            }
            XpResult r = WaitForChange(seconds);
            if (r != XP_OK) return r;
        }
    }
    if (!outermost || !m_mutex) return XP_OK;
    DWORD w = WaitForSingleObject(m_mutex, seconds < 0 ? INFINITE : 0);
    if (w != WAIT_OBJECT_0) {
        // Not acquired: roll back so a failed attempt does not leave the object
        // held. An abandoned mutex was handed to us; give it back as well.
        if (w == WAIT_ABANDONED) ReleaseMutex(m_mutex);
        XpSingleLock guard(&m_lock);
        if (m_owner == self && m_recursion > 0 && --m_recursion == 0) {
            m_owner = 0;
            NotifyChange();
        }
    }
    return static_cast<XpResult>(w);
}

XpResult XpMutex::Unlock() {
    XpSingleLock guard(&m_lock);
    if (m_recursion > 0 && m_owner == GetCurrentThreadId()) {
        if (--m_recursion == 0) {
            if (m_mutex) ReleaseMutex(m_mutex);
            m_owner = 0;
            NotifyChange();
        }
    }
    return XP_OK;
}
