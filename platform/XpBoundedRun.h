// A program run whose wait has a bound: for child processes whose answer is
// wanted (an importer module's score) but that may never end on their own.
#pragma once

#include <windows.h>

#include "platform/XpResult.h"
#include "platform/XpString.h"

// Starts program with arguments as RunProgram does and waits for its end, at
// most waitMs milliseconds (INFINITE: no bound) and only while cancel (an
// event; null for none) is not set. On its end the exit code goes to exitCode
// (may be null) and the result is 0. At the bound the process is terminated
// and the result is XP_E_TIMEOUT; when cancel is set first, it is terminated
// and the result is XP_E_CANCELLED. A program that does not start gives
// RunProgram's code. exitCode is left alone unless the result is 0.
// The program runs without the system's crash and "no disk" dialogs, and a
// run ended early takes the processes it started with it where the system
// allows a job for it.
[[nodiscard]] XpResult RunProgramWithin(const XpString& program, const XpString& arguments, DWORD waitMs,
                                        HANDLE cancel, DWORD* exitCode);
