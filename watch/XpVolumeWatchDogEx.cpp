#include "XpVolumeWatchDogEx.h"

#include <dbt.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace {

const wchar_t kClassName[] = L"ZelmXpVolumeWatchDogExDummyWindow";
const wchar_t kShellMessageName[] = L"XpVolumeWatchDogEx_SHChangeNotify_WindowMessage";
// Interrupt-level, shell-level and recursive-interrupt sources with new
// delivery: wParam carries a shared-memory handle and lParam the sending
// process, both opened only through the shell's lock call.
const int kShellSources = 0x2381F | SHCNRF_NewDelivery;
const LONG kShellEvents = SHCNE_MEDIAINSERTED | SHCNE_MEDIAREMOVED | SHCNE_DRIVEREMOVED | SHCNE_DRIVEADD;
const int kShellPathChars = 4160;
const DWORD kUnitMaskBits = 0x3FFFFFF;
const DWORD kGatherMs = 20;
// A notifier that heard nothing for this long ends its thread; the next
// event for its path makes a new one. A card's burst of notices is over
// within its quiet second, so a thread per path is held only a few seconds
// beyond it, also when cards come in every drive letter one after another.
const int kDefaultNotifierIdleSeconds = 5;
// Notifiers of paths other than drive roots: any program of the session can
// make up such paths, so they never hold more threads than this. Drive roots
// are at most 26 and always get theirs.
const size_t kMaxOtherNotifiers = 16;

bool IsDriveRoot(const wchar_t* path) {
  wchar_t c = path[0];
  return ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) && path[1] == L':' &&
         (path[2] == 0 || (path[2] == L'\\' && path[3] == 0));
}

typedef HANDLE(WINAPI* ShellLockFn)(HANDLE, DWORD, PIDLIST_ABSOLUTE**, LONG*);
typedef BOOL(WINAPI* ShellUnlockFn)(HANDLE);

// The shell's lock and unlock calls, looked up at run time: Windows 2000
// exports them by number only.
struct ShellLockCalls {
  ShellLockFn lock;
  ShellUnlockFn unlock;
};

ShellLockCalls FindShellLockCalls() {
  ShellLockCalls calls = {NULL, NULL};
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  if (!shell) return calls;
  FARPROC lock = GetProcAddress(shell, "SHChangeNotification_Lock");
  FARPROC unlock = GetProcAddress(shell, "SHChangeNotification_Unlock");
  if (!lock || !unlock) {
    lock = GetProcAddress(shell, MAKEINTRESOURCEA(644));
    unlock = GetProcAddress(shell, MAKEINTRESOURCEA(645));
  }
  if (!lock || !unlock) return calls;
  calls.lock = reinterpret_cast<ShellLockFn>(reinterpret_cast<void*>(lock));
  calls.unlock = reinterpret_cast<ShellUnlockFn>(reinterpret_cast<void*>(unlock));
  return calls;
}

// An item list that lies wholly in readable memory: the block came from
// another process, so its lengths are not trusted to stay inside it.
bool IsReadableItemList(const ITEMIDLIST* list) {
  if (!list) return false;
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(list, &info, sizeof(info)) != sizeof(info) || info.State != MEM_COMMIT) return false;
  const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  if ((info.Protect & readable) == 0 || (info.Protect & PAGE_GUARD) != 0) return false;
  const BYTE* at = reinterpret_cast<const BYTE*>(list);
  const BYTE* end = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
  for (;;) {
    if (end - at < static_cast<ptrdiff_t>(sizeof(USHORT))) return false;
    USHORT size;
    memcpy(&size, at, sizeof(size));
    if (size == 0) return true;
    if (size < sizeof(USHORT) || end - at < static_cast<ptrdiff_t>(size)) return false;
    at += size;
  }
}

}  // namespace

_XpVolumeNotifier::_XpVolumeNotifier(XpVolumeWatchDogEx* owner, const XpString& path)
    : m_owner(owner),
      m_path(path),
      m_pending(false),
      m_quit(false),
      m_wakeUp(0, XpSemaphore::kNoMaximum),
      m_first(0),
      m_last(0),
      m_queued(0),
      m_signalled(false),
      m_retired(false),
      m_deliveringArrival(false),
      m_idleSeconds(owner->m_notifierIdleSeconds) {
  m_thread = XpScopedThread(XpThread::Create(&_XpVolumeNotifier::ThreadEntry, this));
}

bool _XpVolumeNotifier::IsRunning() const {
  return m_thread.get() != NULL && WaitForSingleObject(m_thread->GetHandle(), 0) == WAIT_TIMEOUT;
}

_XpVolumeNotifier::~_XpVolumeNotifier() {
  m_quit.Set(true);
  // The notifier's exit code carries nothing.
  (void)m_thread.Join();
}

bool _XpVolumeNotifier::IsRetired() {
  XpSingleLock guard(&m_lock);
  return m_retired;
}

bool _XpVolumeNotifier::Retire() {
  XpSingleLock guard(&m_lock);
  if (m_queued != 0 || m_signalled) return false;
  m_retired = true;
  return true;
}

bool _XpVolumeNotifier::Queue(bool arrival) {
  unsigned char event = arrival ? 1 : 0;
  XpSingleLock guard(&m_lock);
  if (m_retired) return false;
  if (m_queued == 0) m_first = event;
  m_last = event;
  if (m_queued < 2) ++m_queued;
  // Signalling an event that is already set only costs system calls; a
  // burst of thousands wakes the notifier once per clear.
  if (!m_signalled) {
    m_signalled = true;
    m_pending.Set(true);
  }
  return true;
}

bool _XpVolumeNotifier::IsArrivalPending() {
  XpSingleLock guard(&m_lock);
  return (m_queued > 0 && m_last == 1) || m_deliveringArrival;
}

void _XpVolumeNotifier::ClearPending() {
  XpSingleLock guard(&m_lock);
  m_signalled = false;
  m_pending.Set(false);
}

unsigned int _XpVolumeNotifier::ThreadEntry(void* argument) {
  if (!argument) return XP_E_FILE_BAD_ARGUMENT;
  return static_cast<_XpVolumeNotifier*>(argument)->Loop();
}

unsigned int _XpVolumeNotifier::Loop() {
  for (;;) {
    {
      XpMultiLockOne wait(false, &m_pending, &m_quit, &m_wakeUp, m_idleSeconds);
      // Idle: the thread ends unless an event came in just now.
      if (wait.GetResult() == XP_E_TIMEOUT) {
        if (Retire()) return XP_OK;
        continue;
      }
      // A wait that fails would fail again at once: the thread ends, and the
      // next event makes a new notifier.
      if (wait.GetResult() != XP_OK) {
        (void)Retire();
        return wait.GetResult();
      }
      if (wait.GetIndex() == 1) return XP_OK;
      if (wait.GetIndex() != 0) continue;
    }
    ClearPending();
    // Every further event restarts the quiet second.
    for (;;) {
      XpMultiLockOne wait(false, &m_pending, &m_quit, &m_wakeUp, 1);
      XpResult r = wait.GetResult();
      if (r == XP_E_TIMEOUT) {
        Deliver();
        break;
      }
      if (r != XP_OK) return r;
      if (wait.GetIndex() == 1) return XP_OK;
      // Events of a fast burst are gathered for a moment rather than
      // waking this thread once each; the quiet second starts after.
      Sleep(kGatherMs);
      ClearPending();
    }
  }
}

void _XpVolumeNotifier::Deliver() {
  unsigned char first;
  unsigned char last;
  {
    XpSingleLock guard(&m_lock);
    if (m_queued == 0) return;
    first = m_first;
    last = m_last;
    m_queued = 0;
    m_deliveringArrival = first == last && first == 1;
  }
  // Different ends mean the volume is back in the state it was in before.
  if (first != last) return;
  m_owner->Deliver(m_path, first == 1);
  XpSingleLock guard(&m_lock);
  m_deliveringArrival = false;
}

XpVolumeWatchDogEx::XpVolumeWatchDogEx(int, bool coalesce)
    : _XpDeviceWatchDog(kClassName),
      m_coalesce(coalesce),
      m_shellRegistration(0),
      m_shellMessage(RegisterWindowMessageW(kShellMessageName)),
      m_taskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")),
      m_shellRegistrations(0),
      m_notifierIdleSeconds(kDefaultNotifierIdleSeconds) {}

XpVolumeWatchDogEx::~XpVolumeWatchDogEx() {
  // The window thread would otherwise still create notifiers while they are
  // being released.
  (void)Stop();  // fails only when not running or on the watcher's own thread
  ReleaseNotifiers();
  m_callbacks.Clear();
}

void XpVolumeWatchDogEx::ReleaseNotifiers() {
  std::map<XpString, XpSharedPtr<_XpVolumeNotifier>, XpNoCaseLess> notifiers;
  {
    XpSingleLock guard(&m_notifierLock);
    notifiers.swap(m_notifiers);
  }
  notifiers.clear();  // each joins its thread
}

XpResult XpVolumeWatchDogEx::AddCallback(IXpVolumeWatchDogCallback* callback) {
  return m_callbacks.Add(callback);
}

XpResult XpVolumeWatchDogEx::RemoveCallback(IXpVolumeWatchDogCallback* callback) {
  return m_callbacks.Remove(callback);
}

size_t XpVolumeWatchDogEx::GetNotifierCount() {
  XpSingleLock guard(&m_notifierLock);
  size_t live = 0;
  for (auto& entry : m_notifiers)
    if (entry.second->IsRunning() && !entry.second->IsRetired()) ++live;
  return live;
}

void XpVolumeWatchDogEx::RegisterNotifications() {
  _XpDeviceWatchDog::RegisterNotifications();
  RegisterShell();
}

void XpVolumeWatchDogEx::RegisterShell() {
  // Notifications that cannot be opened safely are not asked for.
  if (!FindShellLockCalls().lock) return;  // volume broadcasts alone
  XpUniqueCoTaskMem<ITEMIDLIST> desktop;
  if (FAILED(SHGetFolderLocation(GetNotifyWindow(), CSIDL_DESKTOP, NULL, 0, desktop.put())) || !desktop)
    return;  // volume broadcasts alone
  SHChangeNotifyEntry entry;
  entry.pidl = desktop.get();
  entry.fRecursive = TRUE;
  m_shellRegistration =
      SHChangeNotifyRegister(GetNotifyWindow(), kShellSources, kShellEvents, m_shellMessage, 1, &entry);
  if (m_shellRegistration != 0) ++m_shellRegistrations;
}

void XpVolumeWatchDogEx::UnregisterShell() {
  if (m_shellRegistration != 0) {
    SHChangeNotifyDeregister(m_shellRegistration);
    m_shellRegistration = 0;
  }
}

void XpVolumeWatchDogEx::UnregisterNotifications() {
  UnregisterShell();
  _XpDeviceWatchDog::UnregisterNotifications();
}

LRESULT XpVolumeWatchDogEx::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == m_shellMessage && m_shellMessage != 0) OnShellNotification(wParam, lParam);
  // The window is top-level, so it hears the restarted shell's broadcast
  // itself; the old registration died with the old shell (or there was no
  // shell to register with at the start).
  if (message == m_taskbarCreated && m_taskbarCreated != 0) {
    UnregisterShell();
    RegisterShell();
  }
  return _XpDeviceWatchDog::WindowProc(window, message, wParam, lParam);
}

void XpVolumeWatchDogEx::OnShellNotification(WPARAM wParam, LPARAM lParam) {
  // Any program of the session can send this message with made-up values:
  // only what the shell's lock call opens is read, anything else is ignored.
  static const ShellLockCalls calls = FindShellLockCalls();
  if (!calls.lock || wParam == 0) return;
  PIDLIST_ABSOLUTE* items = NULL;
  LONG event = 0;
  HANDLE lock = calls.lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items, &event);
  if (!lock) return;
  bool arrival = event == SHCNE_MEDIAINSERTED || event == SHCNE_DRIVEADD;
  bool removal = event == SHCNE_MEDIAREMOVED || event == SHCNE_DRIVEREMOVED;
  wchar_t path[kShellPathChars];
  path[0] = 0;
  if ((arrival || removal) && items && IsReadableItemList(items[0]) && SHGetPathFromIDListW(items[0], path))
    path[kShellPathChars - 1] = 0;
  else
    path[0] = 0;
  calls.unlock(lock);
  if (path[0]) Notify(path, arrival);
}

LRESULT XpVolumeWatchDogEx::OnDeviceChange(WPARAM event, LPARAM header) {
  const DEV_BROADCAST_HDR* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(header);
  if ((event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) && hdr &&
      hdr->dbch_devicetype == DBT_DEVTYP_VOLUME && hdr->dbch_size >= sizeof(DEV_BROADCAST_VOLUME)) {
    const DEV_BROADCAST_VOLUME* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(hdr);
    // A network volume holds no card: nothing is offered for it.
    DWORD mask = (volume->dbcv_flags & DBTF_NET) != 0 ? 0 : volume->dbcv_unitmask & kUnitMaskBits;
    wchar_t path[4] = {L'A', L':', L'\\', 0};
    while (mask != 0) {
      if (mask & 1) Notify(path, event == DBT_DEVICEARRIVAL);
      mask >>= 1;
      ++path[0];
    }
  }
  return _XpDeviceWatchDog::OnDeviceChange(event, header);
}

void XpVolumeWatchDogEx::NotifyArrival(const wchar_t* path) { Notify(path, true); }

void XpVolumeWatchDogEx::NotifyRemoval(const wchar_t* path) { Notify(path, false); }

void XpVolumeWatchDogEx::Notify(const wchar_t* path, bool arrival) {
  if (!path) return;
  if (!m_coalesce) {
    Deliver(XpString(path), arrival);
    return;
  }
  // A notifier that retires between the look-up and the queueing refuses
  // the event; the second round finds it retired and makes a new one.
  for (int round = 0; round < 2; ++round) {
    XpSharedPtr<_XpVolumeNotifier> notifier = FindNotifier(path);
    if (notifier.IsNull() || notifier->Queue(arrival)) return;
  }
}

XpSharedPtr<_XpVolumeNotifier> XpVolumeWatchDogEx::FindNotifier(const wchar_t* path) {
  XpSingleLock guard(&m_notifierLock);
  XpString key(path);
  auto found = m_notifiers.find(key);
  if (found != m_notifiers.end() && found->second->IsRunning() && !found->second->IsRetired())
    return found->second;
  // Retired notifiers are leaving or gone; their joins do not wait.
  size_t others = 0;
  for (auto i = m_notifiers.begin(); i != m_notifiers.end();) {
    if (!i->second->IsRunning() || i->second->IsRetired()) {
      i = m_notifiers.erase(i);
      continue;
    }
    if (!IsDriveRoot(i->first.c_str())) ++others;
    ++i;
  }
  // Beyond the bound, an event for a made-up path is dropped.
  if (!IsDriveRoot(path) && others >= kMaxOtherNotifiers) return XpSharedPtr<_XpVolumeNotifier>();
  XpSharedPtr<_XpVolumeNotifier> created(new (std::nothrow) _XpVolumeNotifier(this, key));
  // Without its thread the event is dropped; the next one tries again.
  if (created.IsNull() || !created->IsRunning()) return XpSharedPtr<_XpVolumeNotifier>();
  m_notifiers[key] = created;
  return created;
}

bool XpVolumeWatchDogEx::IsArrivalPending(const XpString& path) {
  XpSharedPtr<_XpVolumeNotifier> notifier;
  {
    XpSingleLock guard(&m_notifierLock);
    auto found = m_notifiers.find(path);
    if (found == m_notifiers.end()) return false;
    notifier = found->second;
  }
  return notifier->IsArrivalPending();
}

void XpVolumeWatchDogEx::Deliver(const XpString& path, bool arrival) {
  m_callbacks.ForEach([&](IXpVolumeWatchDogCallback* callback) {
    if (arrival)
      callback->OnVolumeArrival(path);
    else
      callback->OnVolumeRemoval(path);
  });
}
