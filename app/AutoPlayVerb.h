// The "autoplay" verb, which the shell's AutoPlay choice runs with the
// volume's root: QRNVolumeWatcher.exe /autoplay "E:\". A watcher running in
// the session gets the volume through a message to its hidden window and
// decides for it at once; without one, this process decides itself.
#pragma once

#include <windows.h>

#include "platform/XpString.h"

// Exit codes of the verb: 0 when the running watcher took the volume or this
// process decided for it; XP_E_FILE_BAD_ARGUMENT (0x8102) for an argument
// that is not a drive root such as E:\; XP_E_FILE_NOT_FOUND (0x8105) when no
// volume is present there; XP_E_TIMEOUT (0x8201) when the running watcher did
// not take the volume within kHandOverMs.

// Whether the command line is the verb; its argument (quotes and blanks
// around it removed) goes to argument.
bool ParseAutoPlayVerb(const wchar_t* commandLine, XpString* argument);

// Performs the verb for its argument and returns the exit code.
int RunAutoPlayVerb(const XpString& argument);

// The registered message that hands a volume over: the drive letter in
// wParam. The hidden window's owner passes every message it gets here; true
// when it was this one (handled).
UINT AutoPlayVolumeMessage();
bool HandleAutoPlayVolumeMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The longest the verb waits for the running watcher to take the volume.
const DWORD kHandOverMs = 10000;
