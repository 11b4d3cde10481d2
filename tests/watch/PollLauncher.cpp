// Runs the polling watcher tests in a second program that Wine presents with
// Windows 2000 (the per-program version setting must exist before that
// program starts), passes the command line on and returns its exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kChild[] = L"watch_poll_child.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\watch_poll_child.exe";

std::wstring ExeDir() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring s(path, n);
  size_t slash = s.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

void Inheritable(DWORD which) {
  HANDLE h = GetStdHandle(which);
  if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS) {
    fprintf(stderr, "cannot create the version setting\n");
    return 2;
  }
  const wchar_t version[] = L"win2k";
  RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
  RegCloseKey(key);

  std::wstring command = L"\"" + ExeDir() + kChild + L"\"";
  for (int i = 1; i < argc; ++i) command += std::wstring(L" \"") + argv[i] + L"\"";
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(0);
  Inheritable(STD_INPUT_HANDLE);
  Inheritable(STD_OUTPUT_HANDLE);
  Inheritable(STD_ERROR_HANDLE);
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi;
  DWORD code = 3;
  if (CreateProcessW(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    fprintf(stderr, "cannot start the test program\n");
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
  return static_cast<int>(code);
}
