// Child program of the support tests: "xptest_child <name> <ms>" sets the
// event "<name>Started", then waits up to <ms> for the event "<name>" and
// exits 0 when it came, 1 when the time ran out, 2 on a bad command line.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 3) return 2;
  std::wstring name = argv[1];
  DWORD ms = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  LocalFree(argv);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, (name + L"Started").c_str());
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (started == nullptr || release == nullptr) return 2;
  SetEvent(started);
  DWORD w = WaitForSingleObject(release, ms);
  CloseHandle(release);
  CloseHandle(started);
  return w == WAIT_OBJECT_0 ? 0 : 1;
}
