// Scoring-style runs with a bound: what they start goes with them when they
// are ended, and they run without the system's error dialogs while ordinary
// starts keep the default error mode.
#include "platform/XpBoundedRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"
#include "tests/support/XpTestSupport.h"

namespace {

std::wstring Folder() {
  wchar_t buffer[1024];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
  std::wstring path(buffer, n);
  return path.substr(0, path.rfind(L'\\'));
}

XpString Child() { return XpString((Folder() + L"\\xp_run_child.exe").c_str()); }

DWORD ReadId(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char text[32] = {0};
  DWORD read = 0;
  ReadFile(file, text, sizeof text - 1, &read, nullptr);
  CloseHandle(file);
  return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

}  // namespace

TEST(BoundedRun, ARunEndedAtItsBoundTakesItsChildrenWithIt) {
  std::wstring idFile = Folder() + L"\\bounded_family.txt";
  DeleteFileW(idFile.c_str());
  XpString arguments = XpString(L"family \"") + XpString(idFile.c_str()) + L"\"";
  DWORD code = 0;
  ASSERT_EQ(XP_E_TIMEOUT, RunProgramWithin(Child(), arguments, 3000, NULL, &code));
  DWORD grandchild = ReadId(idFile);
  DeleteFileW(idFile.c_str());
  ASSERT_NE(0u, grandchild) << "the run did not start its child in time";
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, grandchild);
  if (process == nullptr) return;  // already gone
  bool ended = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process, 1);
  CloseHandle(process);
  EXPECT_TRUE(ended) << "the child of an ended run still runs";
}

// The caller's cancel is told apart from the bound and from a mutex whose
// owner died: the run is ended and the code says it was cancelled.
TEST(BoundedRun, ARunCancelledByTheCallerSaysSo) {
  XpUniqueHandle cancel(CreateEventW(NULL, TRUE, TRUE, NULL));
  ASSERT_TRUE(cancel.valid());
  DWORD code = 12345;
  EXPECT_EQ(XP_E_CANCELLED, RunProgramWithin(Child(), L"sleep", 30000, cancel.get(), &code));
  EXPECT_EQ(12345u, code);
}

namespace {

// What a start asked of the system: its creation flags and the error mode
// the child inherits without CREATE_DEFAULT_ERROR_MODE. Wine does not pass
// the mode on, so the test looks at the call rather than at the child.
void* g_realCreateProcess = nullptr;
DWORD g_flags = 0;
UINT g_parentMode = 0;
BOOL WINAPI RecordCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  g_flags = flags;
  g_parentMode = SetErrorMode(0);
  SetErrorMode(g_parentMode);
  typedef BOOL(WINAPI * Fn)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                            LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  return reinterpret_cast<Fn>(g_realCreateProcess)(application, commandLine, process, thread, inherit, flags,
                                                   environment, folder, startup, information);
}

}  // namespace

TEST(BoundedRun, ScoringRunsAreQuietAndOrdinaryStartsGetTheDefaultErrorMode) {
  UINT before = SetErrorMode(0);
  g_realCreateProcess = xptest::PatchImport("CreateProcessW", reinterpret_cast<void*>(&RecordCreateProcess));
  ASSERT_NE(nullptr, g_realCreateProcess);
  DWORD code = 0;
  XpResult bounded = RunProgramWithin(Child(), XpString(L"0"), 20000, NULL, &code);
  DWORD boundedFlags = g_flags;
  UINT boundedMode = g_parentMode;
  XpResult plain = RunProgram(Child(), XpString(L"0"), &code, nullptr);
  DWORD plainFlags = g_flags;
  xptest::PatchImport("CreateProcessW", g_realCreateProcess);
  SetErrorMode(before);
  ASSERT_EQ(XP_OK, bounded);
  ASSERT_EQ(XP_OK, plain);
  // A crash of a module being scored ends it at once instead of waiting at a
  // dialog nobody sees.
  EXPECT_EQ(0u, boundedFlags & CREATE_DEFAULT_ERROR_MODE);
  const UINT quiet = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
  EXPECT_EQ(quiet, boundedMode & quiet);
  EXPECT_NE(0u, plainFlags & CREATE_DEFAULT_ERROR_MODE) << "a started program inherits the watcher's mode";
}
