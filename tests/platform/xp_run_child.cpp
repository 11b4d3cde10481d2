// Child program for the process-start tests: "xp_run_child <exit code> [report
// file]". With a report file it writes, in UTF-16, its full command line, a
// line feed and its working folder, so the caller can check quoting and the
// folder it was started in.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 255;
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
