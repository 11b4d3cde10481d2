// Numbers of the resources the watcher reads from its localisation library.
// The library is built from QRNVolumeWatcherLOC.rc; another language's library
// must keep these numbers, the command ids and the placeholder of the about text.
#pragma once

#define IDS_APP_NAME 101              // display name: shortcut, captions, balloon title, tooltip
#define IDD_ABOUT 103                 // about box
#define IDI_WATCHER 108               // notification-area icon
#define IDR_TRAY_MENU 129             // its first submenu is the icon's context menu
#define IDD_AUTOSTART 130             // automatic start settings
#define IDS_BALLOON_TEXT 131          // start balloon
#define IDS_CONFIRM_EXIT 133          // asked before exiting while the disk accessor is installed
#define IDS_CONFIRM_NO_AUTOSTART 134  // asked before switching automatic start off (same case)

// The Devices window. A library without these resources shows no Devices
// item (the item is part of menu 129) and the command then does nothing.
#define IDD_DEVICES 140
#define IDS_DEVICES_COLUMNS 141     // column titles separated by "|"
#define IDS_DEVICES_LAUNCH 142      // %1 program, %2 arguments, %3 rule
#define IDS_DEVICES_IGNORED 143     // %1 rule
#define IDS_DEVICES_IMPORTERS 144   // importer modules, not asked yet
#define IDS_DEVICES_SCORES 145      // %1 the module scores
#define IDS_DEVICES_SCORE_ITEM 146  // %1 module, %2 score
#define IDS_DEVICES_NO_MODULE 147   // no module claims the volume
#define IDS_DEVICES_BUSES 148       // bus type names by number, separated by "|"

#define IDC_AUTOSTART_CHECK 1000  // check box of the autostart dialog
#define IDC_ABOUT_VERSION 1001    // about text; holds one %s for the version text
#define IDC_DEVICES_LIST 1010     // list view, one row per removable volume
#define IDC_DEVICES_DETAILS 1011  // read-only text: the selected row's details
#define IDC_DEVICES_RUN 1012      // decide for the selected volume now
#define IDC_DEVICES_IGNORE 1013   // add a per-user Ignore rule for its device
#define IDC_DEVICES_COPY 1014     // copy the details as text
#define IDC_DEVICES_SCORE 1015    // ask the importer modules for their scores

#define ID_TRAY_EXIT 0x800E
#define ID_TRAY_ABOUT 0x800F
#define ID_TRAY_AUTOSTART 0x8013
#define ID_TRAY_DESTINATION 0x8015
#define ID_TRAY_DEVICES 0x8016
// Importer modules with a settings dialog get the ids from here on, one each.
#define ID_TRAY_MODULE_FIRST 0x8079
