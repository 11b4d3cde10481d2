#include "platform/XpProcessStart.h"

#include <cwchar>

#include "platform/XpHandle.h"
#include "platform/XpPath.h"

// ---------------------------------------------------------------------------
// Starting a program

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (name == nullptr || *name == 0) return nullptr;
  wchar_t folder[MAX_PATH + 1];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  folder[n] = 0;
  return LoadLibraryW(JoinPath(XpString(folder), XpString(name)).c_str());
}

bool IsAbsoluteProgramPath(const XpString& path) {
  if (XpHasDriveRoot(path, true)) return true;
  // A share (\\server\share\...) or a device path (\\?\...).
  int serverEnd = -1;
  return path.GetLength() >= 3 && XpFindShareRoot(path, &serverEnd, nullptr) && serverEnd != 2;
}

[[nodiscard]] XpResult StartProgram(const XpString& program, const XpString& arguments, DWORD creationFlags,
                                    HANDLE* processHandle, HANDLE* threadHandle) {
  // Only a full path is started, and it is also named as the program: a bare
  // or relative name would be searched for in the current folder and along
  // the search path. The path is put in quotes on the command line; a quote
  // inside it would end them early and let the rest pose as arguments.
  if (!IsAbsoluteProgramPath(program) || program.Find(L'"') >= 0) return XP_E_FILE_BAD_ARGUMENT;
  const int programLength = program.GetLength();
  const int argumentsLength = arguments.GetLength();
  // Compared without adding, so two huge lengths cannot wrap into a small sum.
  if (programLength > 499 || argumentsLength > 499 - programLength) return XP_E_FILE_BAD_ARGUMENT;

  // "\"program\" arguments"; the limit above keeps it well inside the buffer.
  wchar_t commandLine[1024];
  int at = 0;
  commandLine[at++] = L'"';
  std::wmemcpy(commandLine + at, program.c_str(), programLength);
  at += programLength;
  commandLine[at++] = L'"';
  commandLine[at++] = L' ';
  std::wmemcpy(commandLine + at, arguments.c_str(), argumentsLength);
  at += argumentsLength;
  commandLine[at] = 0;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;

  const XpString directory = GetDirectory(program);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  if (!CreateProcessW(program.c_str(), commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      directory.IsEmpty() ? nullptr : directory.c_str(), &startup, &process)) {
    return XP_E_FAIL;
  }
  XpUniqueHandle thread(process.hThread);
  XpUniqueHandle child(process.hProcess);
  if (threadHandle != nullptr) *threadHandle = thread.release();
  if (processHandle != nullptr) *processHandle = child.release();
  return XP_OK;
}

[[nodiscard]] XpResult RunProgram(const XpString& program, const XpString& arguments, DWORD* exitCode,
                                  HANDLE* processHandle) {
  // The program's own choice of error dialogs, not whatever this process set
  // for its drive probes and scoring runs.
  XpUniqueHandle child;
  XpResult started = StartProgram(program, arguments, CREATE_DEFAULT_ERROR_MODE, child.put(), nullptr);
  if (XpFailed(started)) return started;
  if (exitCode != nullptr) {
    // Only a caller that asked to wait for the program's end gets here (the
    // module interface's synchronous runs); the watcher's own roads start
    // without waiting or bound the wait (RunProgramWithin).
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(child.get(), &code)) *exitCode = code;
  }
  if (processHandle != nullptr) *processHandle = child.release();
  return XP_OK;
}
