// The test-support library: what the other test programs rely on to keep a
// real installation out of reach and to leave nothing running behind them.
#include "tests/support/XpTestSupport.h"

#include <shlobj.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using namespace xptest;

const wchar_t kProbe[] = L"Software\\Zelm Corporation\\Vantolo\\XpScratchProbe";

TEST(ScratchRegistry, HoldsWhatTestsWriteAndLeavesTheRealHivesUntouched) {
  DeleteTree(HKEY_LOCAL_MACHINE, kProbe);
  DeleteTree(HKEY_CURRENT_USER, kProbe);
  std::wstring scratchPath;
  {
    ScratchRegistry scratch;
    ASSERT_TRUE(scratch.Ready());
    scratchPath = scratch.Path();
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, kProbe, L"Machine", 1));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kProbe, L"User", 2));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProbe));
    // Both writes landed in the scratch tree below the real user hive.
    EXPECT_TRUE(KeyExists(RealCurrentUser(), scratchPath + L"\\HKLM\\" + kProbe));
    EXPECT_TRUE(KeyExists(RealCurrentUser(), scratchPath + L"\\HKCU\\" + kProbe));
    // Wine's own settings stay reachable in the real hive.
    EXPECT_TRUE(SetWineAppDefault(L"xptest_probe.exe", L"", L"Version", L"win2k"));
    EXPECT_TRUE(KeyExists(RealCurrentUser(), L"Software\\Wine\\AppDefaults\\xptest_probe.exe"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\xptest_probe.exe"));
    ClearWineAppDefaults(L"xptest_probe.exe");
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProbe));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kProbe));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, scratchPath)) << "the scratch tree is removed";
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\xptest_probe.exe"));
}

TEST(ScratchRegistry, MovesTheApplicationDataFolder) {
  wchar_t real[MAX_PATH] = {}, moved[MAX_PATH] = {}, after[MAX_PATH] = {};
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, real));
  std::wstring folder;
  {
    ScratchRegistry scratch;
    ASSERT_TRUE(scratch.Ready());
    folder = scratch.AppDataFolder();
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, moved));
    EXPECT_EQ(0, _wcsicmp(folder.c_str(), moved)) << Utf8(moved);
    EXPECT_TRUE(DirExists(folder));
  }
  EXPECT_FALSE(DirExists(folder));
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, after));
  EXPECT_STREQ(real, after);
}

// Restores an environment variable at the end of the scope.
class SavedVariable {
 public:
  explicit SavedVariable(const wchar_t* name) : name_(name) {
    wchar_t value[2048];
    DWORD n = GetEnvironmentVariableW(name, value, 2048);
    had_ = n > 0 && n < 2048;
    if (had_) value_.assign(value, n);
  }
  ~SavedVariable() { SetEnvironmentVariableW(name_, had_ ? value_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring value_;
};

TEST(PrivatePrefix, OnlyTheBuildFoldersPrefixIsAccepted) {
  // This program runs through scripts/wine-run, inside the private prefix.
  ASSERT_TRUE(InPrivateWinePrefix());
  SavedVariable marker(L"XP_TEST_WINEPREFIX");
  SetEnvironmentVariableW(L"XP_TEST_WINEPREFIX", nullptr);
  ::testing::AssertionResult unmarked = InPrivateWinePrefix();
  EXPECT_FALSE(unmarked);
  EXPECT_NE(std::string(unmarked.message()).find("XP_TEST_WINEPREFIX"), std::string::npos)
      << unmarked.message();
  SetEnvironmentVariableW(L"XP_TEST_WINEPREFIX", L"/home/someone/.wine");
  EXPECT_FALSE(InPrivateWinePrefix()) << "a prefix other than the marked one";
}

std::wstring ChildCommand(const std::wstring& name, DWORD ms) {
  return Quoted(ProgramDir() + L"xptest_child.exe") + L" " + name + L" " + std::to_wstring(ms);
}

std::wstring UniqueName(const wchar_t* what) {
  return std::wstring(L"xptest_") + what + std::to_wstring(GetCurrentProcessId());
}

HANDLE g_watchedChild = nullptr;

// Starts a child that would wait a minute, then fails like a real test would.
void StartChildThenFail() {
  std::wstring name = UniqueName(L"fail");
  Handle started = MakeEvent((name + L"Started").c_str());
  ChildProcess child;
  ASSERT_TRUE(child.Start(ChildCommand(name, 60000)));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.get(), 30000));
  HANDLE watch = nullptr;
  DuplicateHandle(GetCurrentProcess(), child.Handle(), GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0);
  g_watchedChild = watch;
  ASSERT_TRUE(child.Wait(0)) << "planned failure";
}

TEST(ChildProcess, AFailedAssertionEndsTheChildItStarted) {
  EXPECT_FATAL_FAILURE(StartChildThenFail(), "planned failure");
  Handle watch(g_watchedChild);
  ASSERT_TRUE(watch);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch.get(), 0)) << "the child outlived its owner";
}

TEST(ChildProcess, WaitsAreBoundedAndExitCodesKept) {
  std::wstring name = UniqueName(L"wait");
  Handle release = MakeEvent(name.c_str());
  Handle started = MakeEvent((name + L"Started").c_str());
  ChildProcess child;
  ASSERT_TRUE(child.Start(ChildCommand(name, 60000)));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.get(), 30000));
  EXPECT_FALSE(child.Wait(100));
  EXPECT_TRUE(child.Running());
  EXPECT_FALSE(WaitUntil(100, [&] { return !child.Running(); }));
  SetEvent(release.get());
  EXPECT_TRUE(child.Wait(30000));
  EXPECT_EQ(0u, child.ExitCode());
  DWORD code = 7;
  EXPECT_TRUE(RunToEnd(ChildCommand(UniqueName(L"gone"), 0), 30000, &code));
  EXPECT_EQ(1u, code) << "nobody set its event";
  EXPECT_FALSE(RunToEnd(Quoted(ProgramDir() + L"missing.exe"), 1000, &code));

  // Closing keeps the caller's last error.
  {
    Handle event = MakeEvent();
    Key key = CreateKey(HKEY_CURRENT_USER, L"Software");
    ASSERT_TRUE(event && key);
    SetLastError(1234);
  }
  EXPECT_EQ(1234u, GetLastError());
}

TEST(InsertedDrive, TakesTheDriveOutAtTheEndOfItsScope) {
  wchar_t temp[MAX_PATH + 1];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
  std::wstring folder = std::wstring(temp) + L"xptest_drive";
  ASSERT_TRUE(MakeDirs(folder));
  const DWORD bit = 1u << (L'Q' - L'A');
  {
    InsertedDrive drive;
    ASSERT_TRUE(drive.Insert(L'Q', folder, false));
    EXPECT_NE(0u, GetLogicalDrives() & bit);
  }
  EXPECT_EQ(0u, GetLogicalDrives() & bit);
  RemoveTree(folder);
}

}  // namespace
