// Custom action of the watcher's installer package, run only when the package
// is removed for good (not when a newer one replaces it): deletes the "Launch"
// and "Ignore" lists below the watcher's versioned machine key, with the
// entries an administrator added. The package creates the two keys but leaves
// their removal to this action, so that an upgrade keeps them. It runs in the
// registry view of its own architecture, the view the package writes.
#include <windows.h>

#include <shlwapi.h>

namespace {

const wchar_t kWatcherKey[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";

}  // namespace

extern "C" UINT __stdcall RemoveConfiguration(unsigned long /*installHandle*/) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWatcherKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return ERROR_SUCCESS;  // nothing installed: nothing to remove
  wchar_t version[64] = {0};
  DWORD type = 0;
  DWORD size = sizeof(version) - sizeof(wchar_t);
  LONG read = RegQueryValueExW(key, L"CurrentVersion", NULL, &type, reinterpret_cast<BYTE*>(version), &size);
  RegCloseKey(key);
  // An empty or odd version would name the watcher key itself: leave it to the installer.
  if (read != ERROR_SUCCESS || type != REG_SZ || version[0] == 0 || wcschr(version, L'\\') != NULL)
    return ERROR_SUCCESS;
  const wchar_t* lists[] = {L"Launch", L"Ignore"};
  for (const wchar_t* list : lists) {
    wchar_t path[256];
    wnsprintfW(path, 256, L"%s\\%s\\%s", kWatcherKey, version, list);
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, path);
  }
  return ERROR_SUCCESS;  // a failure here must not stop the removal
}
