// The two small dialogs of the watcher's icon menu. Both templates come from
// the localisation library.
#pragma once

#include <windows.h>

#include "platform/XpString.h"

// Runs the autostart dialog (template 130) modally with check box 1000 preset.
// Returns IDOK or IDCANCEL, or -1 when the template cannot be loaded; on IDOK
// *checked holds the box's final state.
INT_PTR RunAutostartDialog(HMODULE resources, HWND owner, bool preset, bool* checked);

// Runs the about box (template 103); control 1001's text is a format whose
// one %s receives the version text.
INT_PTR RunAboutDialog(HMODULE resources, HWND owner);

// The about text: the first "%s" of format replaced by value and "%%" turned
// into "%"; any other "%" is kept as it is, so a translated text can never
// make the formatting read arguments that are not there.
XpString FormatAboutText(const XpString& format, const XpString& value);
