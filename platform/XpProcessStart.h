// Starting child programs and loading system libraries, by full path only.
#pragma once

#include <windows.h>

#include "platform/XpResult.h"
#include "platform/XpString.h"

// Libraries by full path only: a bare name would also be looked for in the
// current folder and along the search path, where anyone may put a file of
// that name. The system folder's library of that name, or null.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A drive path ("C:\...") or a share or device path ("\\server\...").
bool IsAbsoluteProgramPath(const XpString& path);

// Starts program with arguments ("\"program\" arguments"), working in the
// program's folder. The program must be a full path without a double quote
// (XP_E_FILE_BAD_ARGUMENT otherwise, nothing is started); it is never looked
// for along the search path. With exitCode, waits for the end and stores the exit
// code; with processHandle, hands the process handle to the caller, who
// closes it. 0, XP_E_FILE_BAD_ARGUMENT when program and arguments together are
// longer than 499 characters (nothing is started), XP_E_FAIL when the
// process cannot be created.
// The program starts with the system's default error mode
// (CREATE_DEFAULT_ERROR_MODE), not this process's.
[[nodiscard]] XpResult RunProgram(const XpString& program, const XpString& arguments, DWORD* exitCode,
                                  HANDLE* processHandle);
// The start of RunProgram with the CreateProcess flags given (without
// CREATE_DEFAULT_ERROR_MODE the child inherits this process's error mode);
// hands out the process and, when asked, its first thread. Same results.
[[nodiscard]] XpResult StartProgram(const XpString& program, const XpString& arguments, DWORD creationFlags,
                                    HANDLE* processHandle, HANDLE* threadHandle);
