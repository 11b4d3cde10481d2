#include "platform/XpBoundedRun.h"

#include "platform/XpHandle.h"
#include "platform/XpProcessStart.h"

namespace {

// A terminated process is gone once the system has run its exit; this only
// guards against a system that never reports it.
const DWORD kTerminateWaitMs = 5000;

// A run whose answer is awaited must not stop at a crash box or a "no disk"
// question that nobody sees. The child inherits this process's mode, so the
// process keeps these bits from the first scoring run on; every other start
// asks for the default mode (RunProgram).
const UINT kQuietRunMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

void MakeProcessModeQuiet() {
  UINT previous = SetErrorMode(kQuietRunMode);
  SetErrorMode(previous | kQuietRunMode);
}

typedef HANDLE(WINAPI* CreateJobFn)(LPSECURITY_ATTRIBUTES, LPCWSTR);
typedef BOOL(WINAPI* SetJobFn)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD);
typedef BOOL(WINAPI* AssignJobFn)(HANDLE, HANDLE);

template <class Fn>
Fn KernelFunction(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

// A job that ends every process in it when its last handle closes, so that
// a run ended early takes the programs it started with it. Looked up at run
// time; null where the system has no such jobs, or where this process's own
// job does not let a child into another one (before Windows 8): the run then
// goes without, and only its own process is ended.
class RunJob {
 public:
  RunJob()
      : m_set(KernelFunction<SetJobFn>("SetInformationJobObject")),
        m_assign(KernelFunction<AssignJobFn>("AssignProcessToJobObject")) {
    CreateJobFn create = KernelFunction<CreateJobFn>("CreateJobObjectW");
    if (!create || !m_set || !m_assign) return;
    m_job.reset(create(nullptr, nullptr));
    if (m_job && !setKillOnClose(true)) m_job.reset();
  }
  // The process belongs to the job from here on; false when it could not join.
  bool take(HANDLE process) {
    if (!m_job) return false;
    if (m_assign(m_job.get(), process)) return true;
    m_job.reset();
    return false;
  }
  // A run that ended on its own: what it started goes on living.
  void release() {
    if (m_job) (void)setKillOnClose(false);
    m_job.reset();
  }
  RunJob(const RunJob&) = delete;
  RunJob& operator=(const RunJob&) = delete;

 private:
  bool setKillOnClose(bool kill) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags = kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
    return m_set(m_job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)) != FALSE;
  }
  SetJobFn m_set;
  AssignJobFn m_assign;
  XpUniqueHandle m_job;
};

}  // namespace

XpResult RunProgramWithin(const XpString& program, const XpString& arguments, DWORD waitMs, HANDLE cancel,
                          DWORD* exitCode) {
  MakeProcessModeQuiet();
  RunJob job;
  XpUniqueHandle owner;
  XpUniqueHandle thread;
  // Suspended until it is in the job, so that nothing it starts escapes it.
  XpResult started = StartProgram(program, arguments, CREATE_SUSPENDED, owner.put(), thread.put());
  if (XpFailed(started)) return started;
  if (!owner || !thread) return XP_E_FAIL;
  HANDLE process = owner.get();
  (void)job.take(process);
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    TerminateProcess(process, ERROR_TIMEOUT);
    return XP_E_FAIL;
  }

  HANDLE waits[2] = {process, cancel};
  DWORD count = cancel != NULL ? 2 : 1;
  DWORD waited = WaitForMultipleObjects(count, waits, FALSE, waitMs);
  XpResult result = XP_OK;
  if (waited == WAIT_OBJECT_0) {
    job.release();
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
      result = XP_E_FAIL;
    else if (exitCode != nullptr)
      *exitCode = code;
  } else {
    result = waited == WAIT_TIMEOUT ? XP_E_TIMEOUT : waited == WAIT_OBJECT_0 + 1 ? XP_E_CANCELLED : XP_E_SYNC;
    // Nothing of a run whose answer is no longer wanted is worth keeping;
    // the job (when there is one) ends its children as it closes.
    TerminateProcess(process, ERROR_TIMEOUT);
    WaitForSingleObject(process, kTerminateWaitMs);
  }
  return result;
}
