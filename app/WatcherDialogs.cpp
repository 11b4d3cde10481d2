#include "app/WatcherDialogs.h"

#include "app/VolumeWatcherApp.h"
#include "app/res/LocResources.h"
#include "modules/SfImporterModule.h"

namespace {

struct AutostartState {
  bool checked;
  HMODULE resources;
  HWND owner;
};

// The dialog's state while it is open; only one is open at a time (the menu
// command holds a semaphore for its duration).
AutostartState* g_autostart = nullptr;

bool AskBeforeAutostartOff(HWND dialog) {
  // While an arrival still builds the registry the question is asked.
  XpSharedPtr<SfImporterModuleManager> manager = getApp().readyModuleManager();
  if (manager && !manager->hasDiskAccessor()) return true;
  XpString text = getApp().loadString(IDS_CONFIRM_NO_AUTOSTART);
  XpString caption = getApp().loadString(IDS_APP_NAME);
  return MessageBoxW(dialog, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) ==
         IDYES;
}

INT_PTR CALLBACK AutostartProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      RECT desktop = {0, 0, 0, 0};
      GetClientRect(GetDesktopWindow(), &desktop);
      RECT own = {0, 0, 0, 0};
      GetWindowRect(dialog, &own);
      int x = desktop.left + ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
      int y = desktop.top + ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
      SetWindowPos(dialog, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
      CheckDlgButton(dialog, IDC_AUTOSTART_CHECK,
                     g_autostart && g_autostart->checked ? BST_CHECKED : BST_UNCHECKED);
      SetFocus(GetDlgItem(dialog, IDC_AUTOSTART_CHECK));
      return FALSE;
    }
    case WM_COMMAND:
      if (wParam == IDOK) {
        bool checked = IsDlgButtonChecked(dialog, IDC_AUTOSTART_CHECK) == BST_CHECKED;
        if (g_autostart) g_autostart->checked = checked;
        if (checked || AskBeforeAutostartOff(dialog)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (wParam == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      wchar_t format[513];
      format[0] = L'\0';
      GetDlgItemTextW(dialog, IDC_ABOUT_VERSION, format, 513);
      format[512] = L'\0';
      XpString text = FormatAboutText(format, VolumeWatcherApp::readVersionText());
      SetDlgItemTextW(dialog, IDC_ABOUT_VERSION, text.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

XpString FormatAboutText(const XpString& format, const XpString& value) {
  XpString result;
  bool substituted = false;
  int n = format.GetLength();
  int runStart = 0;
  for (int i = 0; i < n; ++i) {
    if (*format.At(i) != L'%' || i + 1 >= n) continue;
    wchar_t next = *format.At(i + 1);
    if (next == L'%' || (next == L's' && !substituted)) {
      result += format.Left(i).Right(i - runStart);
      if (next == L'%') {
        result += L"%";
      } else {
        result += value;
        substituted = true;
      }
      ++i;
      runStart = i + 1;
    }
  }
  result += format.Right(n - runStart);
  return result;
}

INT_PTR RunAutostartDialog(HMODULE resources, HWND owner, bool preset, bool* checked) {
  if (!resources) return -1;
  AutostartState state = {preset, resources, owner};
  AutostartState* previous = g_autostart;
  g_autostart = &state;
  INT_PTR result = DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_AUTOSTART), owner, &AutostartProc, 0);
  g_autostart = previous;
  if (checked) *checked = state.checked;
  return result;
}

INT_PTR RunAboutDialog(HMODULE resources, HWND owner) {
  if (!resources) return -1;
  return DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_ABOUT), owner, &AboutProc, 0);
}
