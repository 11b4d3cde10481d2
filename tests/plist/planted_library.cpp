// A library that must never be loaded: placed in a current folder under the
// name of a system component, it writes a marker file beside itself when the
// loader runs its entry point.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32];
  DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  wchar_t* slash = path + n;
  while (slash > path && *slash != L'\\') --slash;
  const wchar_t name[] = L"\\msxml4-ran.txt";
  for (size_t i = 0; i < sizeof(name) / sizeof(name[0]); ++i) slash[i] = name[i];
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
