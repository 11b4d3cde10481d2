// The package's custom actions in the test process, in a scratch registry:
// the removal of the device lists is undone by the rollback action and
// completed by the commit action.
#include <windows.h>

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/XpTestSupport.h"

namespace {

typedef UINT(__stdcall* ActionFn)(unsigned long);
const wchar_t kWatcher[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";
const wchar_t kRemoved[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcherRemoved";

bool KeyExists(const std::wstring& path) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

ActionFn Action(HMODULE dll, const char* name) {
  return reinterpret_cast<ActionFn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

TEST(SetupActions, DeviceListRemovalIsUndoneByRollbackAndCompletedByCommit) {
  // Beside this program, by its full path.
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(NULL, path, MAX_PATH);
  *wcsrchr(path, L'\\') = L'\0';
  HMODULE dll = LoadLibraryW((std::wstring(path) + L"\\" + XP_SETUP_DLL).c_str());
  ASSERT_NE(dll, nullptr);
  ActionFn remove = Action(dll, "RemoveConfiguration");
  ActionFn restore = Action(dll, "RestoreConfiguration");
  ActionFn commit = Action(dll, "CommitConfigurationRemoval");
  ASSERT_TRUE(remove && restore && commit);
  const std::wstring versioned = std::wstring(kWatcher) + L"\\1.0";
  ASSERT_TRUE(xptest::SetString(HKEY_LOCAL_MACHINE, kWatcher, L"CurrentVersion", L"1.0"));
  ASSERT_TRUE(xptest::SetDword(HKEY_LOCAL_MACHINE, versioned + L"\\Launch\\Viewer", L"VID", 0x1234));
  ASSERT_TRUE(xptest::SetDword(HKEY_LOCAL_MACHINE, versioned + L"\\Ignore\\Hub", L"PID", 0x10));

  EXPECT_EQ(remove(0), 0u);
  EXPECT_FALSE(KeyExists(versioned + L"\\Launch"));
  EXPECT_FALSE(KeyExists(versioned + L"\\Ignore"));
  EXPECT_TRUE(KeyExists(std::wstring(kRemoved) + L"\\Launch\\Viewer"));
  // The removal failed: the lists come back with their entries.
  EXPECT_EQ(restore(0), 0u);
  DWORD vid = 0, size = sizeof(vid);
  EXPECT_EQ(
      SHGetValueW(HKEY_LOCAL_MACHINE, (versioned + L"\\Launch\\Viewer").c_str(), L"VID", NULL, &vid, &size),
      static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(vid, 0x1234u);
  EXPECT_TRUE(KeyExists(versioned + L"\\Ignore\\Hub"));
  EXPECT_FALSE(KeyExists(kRemoved));

  // The removal completed: the copy goes too.
  EXPECT_EQ(remove(0), 0u);
  EXPECT_EQ(commit(0), 0u);
  EXPECT_FALSE(KeyExists(kRemoved));
  EXPECT_FALSE(KeyExists(versioned + L"\\Launch"));

  // Nothing installed: nothing to do, and no failure.
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Zelm Corporation");
  EXPECT_EQ(remove(0), 0u);
  EXPECT_EQ(restore(0), 0u);
  EXPECT_FALSE(KeyExists(kRemoved));
  FreeLibrary(dll);
}

}  // namespace
