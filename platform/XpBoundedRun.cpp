#include "platform/XpBoundedRun.h"

#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"

namespace {

// A terminated process is gone once the system has run its exit; this only
// guards against a system that never reports it.
const DWORD kTerminateWaitMs = 5000;

}  // namespace

XpResult RunProgramWithin(const XpString& program, const XpString& arguments, DWORD waitMs, HANDLE cancel,
                          DWORD* exitCode) {
  XpUniqueHandle owner;
  // The start itself (and whatever checks it makes) stays RunProgram's.
  XpResult started = RunProgram(program, arguments, nullptr, owner.put());
  if (XpFailed(started)) return started;
  if (!owner) return XP_E_FAIL;
  HANDLE process = owner.get();

  HANDLE waits[2] = {process, cancel};
  DWORD count = cancel != NULL ? 2 : 1;
  DWORD waited = WaitForMultipleObjects(count, waits, FALSE, waitMs);
  XpResult result = XP_OK;
  if (waited == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
      result = XP_E_FAIL;
    else if (exitCode != nullptr)
      *exitCode = code;
  } else {
    result = waited == WAIT_TIMEOUT ? XP_E_TIMEOUT : waited == WAIT_OBJECT_0 + 1 ? XP_E_ABANDONED : XP_E_SYNC;
    // Nothing of a run whose answer is no longer wanted is worth keeping.
    TerminateProcess(process, ERROR_TIMEOUT);
    WaitForSingleObject(process, kTerminateWaitMs);
  }
  return result;
}
