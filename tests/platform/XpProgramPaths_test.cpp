// Programs start only by full path: a bare or relative name is never looked
// for in the current folder or along the search path, and a double quote
// cannot smuggle arguments into the program's part of the command line.
#include "platform/XpFileSystem.h"

#include <gtest/gtest.h>

#include "tests/platform/XpFsTestSupport.h"

namespace {

std::wstring Folder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L'\\'));
}

XpString X(const std::wstring& text) { return XpString(text.c_str()); }

}  // namespace

TEST(XpProgramPaths, OnlyFullPathsCount) {
  EXPECT_TRUE(IsAbsoluteProgramPath(XpString(L"C:\\Tools\\a.exe")));
  EXPECT_TRUE(IsAbsoluteProgramPath(XpString(L"c:/Tools/a.exe")));
  EXPECT_TRUE(IsAbsoluteProgramPath(XpString(L"\\\\server\\share\\a.exe")));
  EXPECT_TRUE(IsAbsoluteProgramPath(XpString(L"\\\\?\\C:\\a.exe")));
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"")));
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"notepad.exe")));
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"Tools\\a.exe")));
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"\\Tools\\a.exe")));  // root of whichever drive is current
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"C:a.exe")));         // current folder of drive C
  EXPECT_FALSE(IsAbsoluteProgramPath(XpString(L"\\\\\\x")));
}

TEST(XpProgramPaths, BareAndRelativeProgramsAreRefusedEvenWhenTheCurrentFolderHasThem) {
  XpScratchFolder scratch;
  ASSERT_TRUE(
      CopyFileW((Folder() + L"\\xp_run_child.exe").c_str(), scratch.Sub(L"child.exe").c_str(), FALSE));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path().c_str()));
  const std::wstring report = scratch.Sub(L"ran.txt");
  DWORD code = 77;
  // An empty "InstalledLocation" leaves the bare "ExeName".
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT,
            RunProgram(XpString(L"child.exe"), X(L"4 \"" + report + L"\""), &code, nullptr));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT,
            RunProgram(XpString(L".\\child.exe"), X(L"4 \"" + report + L"\""), &code, nullptr));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, RunProgram(XpString(L""), XpString(L"4"), &code, nullptr));
  // The search path holds programs of the system.
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, RunProgram(XpString(L"notepad.exe"), XpString(), nullptr, nullptr));
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(77u, code);
  Sleep(200);
  EXPECT_FALSE(scratch.Exists(L"ran.txt"));
  // The same program by its full path runs.
  EXPECT_EQ(XP_OK, RunProgram(X(scratch.Sub(L"child.exe")), X(L"4 \"" + report + L"\""), &code, nullptr));
  EXPECT_EQ(4u, code);
}

TEST(XpProgramPaths, AQuoteInTheProgramPathIsRefused) {
  XpScratchFolder scratch;
  const std::wstring child = Folder() + L"\\xp_run_child.exe";
  const std::wstring report = scratch.Sub(L"injected.txt");
  // A configured "AppPath" that closes the quotes early and adds its own
  // arguments: the child would write the report.
  std::wstring injected = child + L"\" 9 \"" + report;
  DWORD code = 77;
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, RunProgram(X(injected), XpString(L"x"), &code, nullptr));
  EXPECT_EQ(77u, code);
  Sleep(200);
  EXPECT_FALSE(scratch.Exists(L"injected.txt"));
}
