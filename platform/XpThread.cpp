#include "XpThread.h"

#include <float.h>
#include <malloc.h>
#include <process.h>
#include <time.h>

#include <cfenv>
#include <cstddef>
#include <clocale>
#include <new>
#include <utility>

namespace XpThreadDetail {

struct ThreadStart {
  XpThreadFunction function;
  void* argument;
};

volatile LONG g_threadStarts = 0;

unsigned int RunThread(ThreadStart* start) {
  XpSetRoundTowardZero();
  setlocale(LC_ALL, "");
  unsigned int code = start->function(start->argument);
  delete start;
  return code;
}

unsigned int __stdcall ThreadEntry(void* param) {
  // Offset each new thread's stack so that threads started one after another
  // do not put their hot frames on the same cache lines.
  LONG n = InterlockedIncrement(&g_threadStarts);
  size_t pad = static_cast<size_t>(n % 8) * 2048u;
  volatile char* reserve = static_cast<volatile char*>(_alloca(pad + 1));
  reserve[0] = 0;
  unsigned int code = RunThread(static_cast<ThreadStart*>(param));
  reserve[0] = 1;  // keeps the reservation alive across the call
  return code;
}

}  // namespace XpThreadDetail

void XpSetRoundTowardZero() {
#if defined(_M_IX86) || defined(_M_X64) || defined(__i386__) || defined(__x86_64__)
  _control87(_RC_CHOP, _MCW_RC);
#endif
  // Also sets the SSE rounding mode, which x64 arithmetic uses.
  std::fesetround(FE_TOWARDZERO);
}

XpThread* XpThread::Create(XpThreadFunction function, void* argument) {
  XpThread* thread = new (std::nothrow) XpThread();
  if (!thread) return NULL;
  XpThreadDetail::ThreadStart* start = new (std::nothrow) XpThreadDetail::ThreadStart();
  if (!start) {
    delete thread;
    return NULL;
  }
  start->function = function;
  start->argument = argument;
  uintptr_t h = _beginthreadex(NULL, 0, &XpThreadDetail::ThreadEntry, start, 0, &thread->m_id);
  if (h == 0) {
    delete start;
    delete thread;
    return NULL;
  }
  thread->m_handle.reset(reinterpret_cast<HANDLE>(h));
  return thread;
}

XpResult XpThread::Join(XpThread* thread) {
  if (!thread) return XP_E_INVALID_HANDLE;
  if (GetCurrentThreadId() == thread->m_id) return XP_E_SELF_JOIN;
  WaitForSingleObject(thread->m_handle.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread->m_handle.get(), &code);
  delete thread;
  return static_cast<XpResult>(code);
}

XpResult XpThread::SetPriority(int priority) {
  return SetThreadPriority(m_handle.get(), priority) ? XP_OK : XP_E_PRIORITY;
}

XpResult XpThread::LowerPriority() {
  int current = GetThreadPriority(m_handle.get());
  return SetThreadPriority(m_handle.get(), current - 1) ? XP_OK : XP_E_PRIORITY;
}

XpThreadSet::XpThreadSet() { InitializeCriticalSection(&m_lock); }

XpThreadSet::~XpThreadSet() {
  m_threads.clear();
  DeleteCriticalSection(&m_lock);
}

void XpThreadSet::TakeEnded(std::vector<XpScopedThread>& ended) {
  for (size_t i = m_threads.size(); i-- > 0;) {
    if (WaitForSingleObject(m_threads[i]->GetHandle(), 0) != WAIT_OBJECT_0) continue;
    ended.push_back(std::move(m_threads[i]));
    m_threads.erase(m_threads.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

bool XpThreadSet::Start(XpThreadFunction function, void* argument) {
  std::vector<XpScopedThread> ended;
  bool started = false;
  EnterCriticalSection(&m_lock);
  TakeEnded(ended);
  // Room first: a thread once started is never left without its holder.
  bool room = true;
  try {
    m_threads.reserve(m_threads.size() + 1);
  } catch (...) {
    room = false;
  }
  if (room) {
    XpThread* thread = XpThread::Create(function, argument);
    if (thread) {
      m_threads.push_back(XpScopedThread(thread));
      started = true;
    }
  }
  LeaveCriticalSection(&m_lock);
  // The ended ones are joined here, outside the lock; they do not wait.
  return started;
}

void XpThreadSet::Reap() {
  std::vector<XpScopedThread> ended;
  EnterCriticalSection(&m_lock);
  TakeEnded(ended);
  LeaveCriticalSection(&m_lock);
}

bool XpThreadSet::JoinWithin(DWORD ms) {
  const DWORD started = GetTickCount();
  for (;;) {
    // Waited on outside the lock, so that Start is never held up; a thread
    // taken out here is owned by this call until it goes back.
    std::vector<XpScopedThread> waiting;
    EnterCriticalSection(&m_lock);
    waiting.swap(m_threads);
    LeaveCriticalSection(&m_lock);
    if (waiting.empty()) return true;
    bool timedOut = false;
    for (size_t first = 0; first < waiting.size() && !timedOut; first += MAXIMUM_WAIT_OBJECTS) {
      HANDLE handles[MAXIMUM_WAIT_OBJECTS];
      DWORD count = 0;
      for (size_t i = first; i < waiting.size() && count < MAXIMUM_WAIT_OBJECTS; ++i)
        handles[count++] = waiting[i]->GetHandle();
      const DWORD spent = GetTickCount() - started;
      const DWORD left = spent < ms ? ms - spent : 0;
      timedOut = WaitForMultipleObjects(count, handles, TRUE, left) == WAIT_TIMEOUT;
    }
    std::vector<XpScopedThread> ended;
    for (size_t i = waiting.size(); i-- > 0;) {
      if (WaitForSingleObject(waiting[i]->GetHandle(), 0) != WAIT_OBJECT_0) continue;
      ended.push_back(std::move(waiting[i]));
      waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
    }
    EnterCriticalSection(&m_lock);
    if (m_threads.empty()) {
      m_threads.swap(waiting);
    } else {
      for (size_t i = 0; i < waiting.size(); ++i) m_threads.push_back(std::move(waiting[i]));
    }
    const bool left = !m_threads.empty();
    LeaveCriticalSection(&m_lock);
    ended.clear();
    // Threads started while this call waited are waited for too, within the bound.
    if (!left) return true;
    if (GetTickCount() - started >= ms) return false;
  }
}

bool XpThreadSet::Empty() {
  Reap();
  EnterCriticalSection(&m_lock);
  const bool empty = m_threads.empty();
  LeaveCriticalSection(&m_lock);
  return empty;
}

DWORD GetProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

XpMemoryStatus GetMemoryStatus() {
  XpMemoryStatus status = {0, 0};
  // Windows 95/98 and NT 4 lack the 64-bit query: look it up for the call.
  typedef BOOL(WINAPI * MemoryStatusExFn)(MEMORYSTATUSEX*);
  XpUniqueModule kernel(LoadLibraryW(L"kernel32.dll"));
  if (kernel) {
    MemoryStatusExFn query = reinterpret_cast<MemoryStatusExFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel.get(), "GlobalMemoryStatusEx")));
    MEMORYSTATUSEX ex;
    ex.dwLength = sizeof(ex);
    bool ok = query && query(&ex);
    if (ok) {
      status.totalPhysical = ex.ullTotalPhys;
      status.availablePhysical = ex.ullAvailPhys;
      return status;
    }
  }
  MEMORYSTATUS old;
  old.dwLength = sizeof(old);
  GlobalMemoryStatus(&old);
  status.totalPhysical = static_cast<DWORD>(old.dwTotalPhys);
  status.availablePhysical = static_cast<DWORD>(old.dwAvailPhys);
  return status;
}

unsigned long long GetTotalPhysicalMemory() { return GetMemoryStatus().totalPhysical; }
unsigned long long GetAvailablePhysicalMemory() { return GetMemoryStatus().availablePhysical; }

long long GetCurrentTime64() { return static_cast<long long>(_time64(NULL)); }

namespace XpThreadDetail {

// The module of the run-time library this program uses, or null.
HMODULE RuntimeModule() {
  const wchar_t* names[] = {L"msvcrt.dll", L"ucrtbase.dll"};
  for (const wchar_t* name : names) {
    HMODULE module = GetModuleHandleW(name);
    if (module) return module;
  }
  return NULL;
}

}  // namespace XpThreadDetail

void XpRestrictLibrarySearch() {
  // Both calls are looked up: Windows before XP SP1 has neither, and the
  // second came with a later update.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  SetDllDirectoryFn setDirectory = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
  if (setDirectory) setDirectory(L"");  // the current folder leaves the search
  SetDefaultDllDirectoriesFn setDefaults = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  // The program's folder and the system folder; not the search path.
  const DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
  if (setDefaults) setDefaults(kSearchDefaultDirs);
}

void XpSetupProcess() {
  XpRestrictLibrarySearch();
  HMODULE user = GetModuleHandleW(L"user32.dll");
  if (user) {
    typedef BOOL(WINAPI * DpiAwareFn)();
    DpiAwareFn dpiAware =
        reinterpret_cast<DpiAwareFn>(reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDPIAware")));
    if (dpiAware) dpiAware();
  }

  // Both run-time entries are looked up, not imported: neither exists in
  // every run-time library the program may meet.
  HMODULE runtime = XpThreadDetail::RuntimeModule();
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  typedef BOOL(WINAPI * HeapSetFn)(HANDLE, int, void*, SIZE_T);
  HeapSetFn heapSet =
      kernel
          ? reinterpret_cast<HeapSetFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "HeapSetInformation")))
          : NULL;
  if (heapSet) {
    typedef intptr_t(__cdecl * HeapHandleFn)();
    HeapHandleFn heapHandle = runtime ? reinterpret_cast<HeapHandleFn>(reinterpret_cast<void*>(
                                            GetProcAddress(runtime, "_get_heap_handle")))
                                      : NULL;
    if (heapHandle) {
      ULONG lowFragmentation = 2;
      heapSet(reinterpret_cast<HANDLE>(heapHandle()), 0 /* heap compatibility */, &lowFragmentation,
              sizeof(lowFragmentation));
    }
  } else if (runtime) {
    typedef int(__cdecl * SbhThresholdFn)(size_t);
    SbhThresholdFn threshold = reinterpret_cast<SbhThresholdFn>(
        reinterpret_cast<void*>(GetProcAddress(runtime, "_set_sbh_threshold")));
    if (threshold) threshold(120);
  }

  XpSetRoundTowardZero();
}
