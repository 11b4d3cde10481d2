#include "app/VolumeWatcherApp.h"

#include "app/res/LocResources.h"
#include "platform/XpHandle.h"
#include "platform/XpPath.h"
#include "platform/XpShellFolders.h"

XpString VolumeWatcherApp::executablePath() {
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return XpString();
  path[n] = L'\0';
  return XpString(path);
}

XpString VolumeWatcherApp::locLibraryName(const XpString& executablePath) {
  XpString name = GetFileName(executablePath);
  int dot = name.ReverseFind(L'.');
  if (dot >= 0) name = name.Left(dot);
  return name + L"LOC.DLL";
}

HMODULE VolumeWatcherApp::locLibrary() {
  if (!m_locLibrary) {
    XpString name = locLibraryName(executablePath());
    // The library beside the program, by full path, never a file of that
    // name in the current folder or along the search path.
    if (!name.IsEmpty()) m_locLibrary.reset(LoadProgramLibrary(name));
  }
  return m_locLibrary.get();
}

bool VolumeWatcherApp::loadString(UINT id, wchar_t* buffer, int size) {
  if (!buffer || size <= 0) return false;
  buffer[0] = L'\0';
  HMODULE library = locLibrary();
  if (!library) return false;
  return LoadStringW(library, id, buffer, size) > 0;
}

XpString VolumeWatcherApp::loadString(UINT id) {
  wchar_t buffer[1024];
  if (!loadString(id, buffer, 1024)) return XpString();
  return XpString(buffer);
}

void VolumeWatcherApp::bringMessageWindowToFront() {
  XpString title = loadString(IDS_APP_NAME);
  if (title.IsEmpty()) return;
  HWND window = FindWindowW(NULL, title.c_str());
  if (!window) return;
  HWND popup = GetLastActivePopup(window);
  SetForegroundWindow(popup ? popup : window);
}
