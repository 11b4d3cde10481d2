// The well-known folders of the user and of the machine, their display
// names, and files and libraries found beside the program.
#pragma once

#include <windows.h>

#include "platform/XpString.h"

// Well-known folders, by number.
enum XpSpecialFolder {
  XP_FOLDER_TEMP = 0,
  XP_FOLDER_MY_PICTURES = 1,
  XP_FOLDER_MY_VIDEOS = 2,
  XP_FOLDER_MY_MUSIC = 3,
  XP_FOLDER_MY_DOCUMENTS = 4,
  XP_FOLDER_DESKTOP = 5,
  XP_FOLDER_COMMON_PICTURES = 6,
  XP_FOLDER_COMMON_VIDEOS = 7,
  XP_FOLDER_COMMON_MUSIC = 8,
  XP_FOLDER_COMMON_DOCUMENTS = 9,
  XP_FOLDER_APPDATA = 10,
  XP_FOLDER_PROGRAM_DIRECTORY = 11,
  XP_FOLDER_PROGRAM_FILE = 12,
  XP_FOLDER_PROFILE = 13,
  XP_FOLDER_COMMON_APPDATA = 14,
  XP_FOLDER_STARTUP = 15  // the user's Startup folder, for the autostart shortcut
};

// The folder's path (no guaranteed trailing backslash); with create, missing
// folders are made and a failure gives an empty string. Unknown numbers: empty.
XpString GetSpecialFolderPath(int folder, bool create);
// The shell's display name of folders 1..9; empty otherwise or on failure.
XpString GetSpecialFolderDisplayName(int folder);
// The path with a leading folder 1..9 replaced by its display name.
XpString GetDisplayPath(const XpString& path);
XpString GetAppDataPath(const XpString& company, const XpString& product, const XpString& leaf, bool create);
// The program directory joined with name when that file exists, else empty.
XpString GetProgramRelativeFile(const XpString& name);

// The library of that name in this program's own folder, or null.
HMODULE LoadProgramLibrary(const XpString& name);
