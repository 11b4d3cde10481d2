// Second process for the named-mutex tests: xp_mutex_child <mode> <name>.
//   try      exit code = TryLock result of an XpMutex with that name
//   hold     lock, set event "<name>Held", wait for event "<name>Release", unlock
//   abandon  lock, set event "<name>Held", exit without unlocking
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "platform/XpSync.h"

namespace {

HANDLE NamedEvent(const wchar_t* name, const wchar_t* suffix) {
  wchar_t full[256];
  swprintf(full, 256, L"%ls%ls", name, suffix);
  return CreateEventW(NULL, TRUE, FALSE, full);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 3) return 1000;
  const wchar_t* mode = argv[1];
  const wchar_t* name = argv[2];
  XpMutex mutex(name);
  if (wcscmp(mode, L"try") == 0) {
    XpResult r = mutex.TryLock();
    if (r == XP_OK) (void)mutex.Unlock();
    return static_cast<int>(r);
  }
  XpResult r = mutex.Lock();
  if (r != XP_OK) return static_cast<int>(r);
  HANDLE held = NamedEvent(name, L"Held");
  SetEvent(held);
  if (wcscmp(mode, L"abandon") == 0) ExitProcess(0);
  HANDLE release = NamedEvent(name, L"Release");
  DWORD w = WaitForSingleObject(release, 60000);
  (void)mutex.Unlock();
  CloseHandle(release);
  CloseHandle(held);
  LocalFree(argv);
  return w == WAIT_OBJECT_0 ? 0 : 1001;
}
