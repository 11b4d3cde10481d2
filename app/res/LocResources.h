// Numbers of the resources the watcher reads from its localisation library.
// The library is built from QRNVolumeWatcherLOC.rc; another language's library
// must keep these numbers, the command ids and the placeholder of the about text.
#pragma once

#define IDS_APP_NAME 101           // display name: shortcut, captions, balloon title, tooltip
#define IDD_ABOUT 103              // about box
#define IDI_WATCHER 108            // notification-area icon
#define IDR_TRAY_MENU 129          // its first submenu is the icon's context menu
#define IDD_AUTOSTART 130          // automatic start settings
#define IDS_BALLOON_TEXT 131       // start balloon
#define IDS_CONFIRM_EXIT 133       // asked before exiting while the disk accessor is installed
#define IDS_CONFIRM_NO_AUTOSTART 134  // asked before switching automatic start off (same case)

#define IDC_AUTOSTART_CHECK 1000   // check box of the autostart dialog
#define IDC_ABOUT_VERSION 1001     // about text; holds one %s for the version text

#define ID_TRAY_EXIT 0x800E
#define ID_TRAY_ABOUT 0x800F
#define ID_TRAY_AUTOSTART 0x8013
#define ID_TRAY_DESTINATION 0x8015
// Importer modules with a settings dialog get the ids from here on, one each.
#define ID_TRAY_MODULE_FIRST 0x8079
