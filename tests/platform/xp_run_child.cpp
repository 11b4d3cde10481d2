// Child program for the process-start tests: "xp_run_child <exit code> [report
// file]". With a report file it writes, in UTF-16, its full command line, a
// line feed and its working folder, so the caller can check quoting and the
// folder it was started in. "xp_run_child errormode" exits with the error
// mode it was started with; "xp_run_child family <file>" starts a copy of
// itself that sleeps, writes that copy's process id (decimal) to the file and
// sleeps too; "xp_run_child sleep" sleeps ten minutes.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 255;
  if (argc > 1 && std::wcscmp(argv[1], L"errormode") == 0) return static_cast<int>(SetErrorMode(0));
  if (argc > 1 && std::wcscmp(argv[1], L"sleep") == 0) {
    Sleep(600000);
    return 0;
  }
  if (argc > 2 && std::wcscmp(argv[1], L"family") == 0) {
    wchar_t self[1024];
    DWORD n = GetModuleFileNameW(nullptr, self, 1000);
    if (n == 0 || n >= 1000) return 253;
    wchar_t line[1100];
    swprintf(line, 1100, L"\"%s\" sleep", self);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(self, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
      return 252;
    char id[32];
    int length = snprintf(id, sizeof id, "%lu", static_cast<unsigned long>(child.dwProcessId));
    HANDLE file =
        CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
      WriteFile(file, id, static_cast<DWORD>(length), &written, nullptr);
      CloseHandle(file);
    }
    Sleep(600000);
    return 0;
  }
  int code = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 0;
  if (argc > 2) {
    HANDLE file =
        CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      code = 254;
    } else {
      const wchar_t* line = GetCommandLineW();
      DWORD written = 0;
      WriteFile(file, line, static_cast<DWORD>(std::wcslen(line) * sizeof(wchar_t)), &written, nullptr);
      WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
      wchar_t folder[1024];
      DWORD n = GetCurrentDirectoryW(1024, folder);
      if (n > 0 && n < 1024)
        WriteFile(file, folder, n * static_cast<DWORD>(sizeof(wchar_t)), &written, nullptr);
      CloseHandle(file);
    }
  }
  LocalFree(argv);
  return code;
}
