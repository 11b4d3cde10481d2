#include "app/SfAbstractTrayIcon.h"

#include <utility>

#include "platform/XpHandle.h"
#include "platform/XpProcessStart.h"

namespace {

// Registered during static initialisation, before any window exists.
const UINT g_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

typedef BOOL(WINAPI* RegisterSessionNotificationFn)(HWND, DWORD);
typedef BOOL(WINAPI* UnregisterSessionNotificationFn)(HWND);
// Early in a logon the session service may not run yet: the registration is
// tried again once a second for two minutes.
const UINT_PTR kSessionRetryTimer = 0x5E55;
const UINT kSessionRetryMs = 1000;
const UINT kSessionRetries = 120;
// Windows 7 and later, per window; Vista, per process. Neither exists earlier.
typedef BOOL(WINAPI* ChangeWindowMessageFilterExFn)(HWND, UINT, DWORD, void*);
typedef BOOL(WINAPI* ChangeWindowMessageFilterFn)(UINT, DWORD);
// Common controls 6 (Vista and later): the icon image made for the size.
typedef HRESULT(WINAPI* LoadIconMetricFn)(HINSTANCE, PCWSTR, int, HICON*);
const DWORD kMessageFilterAllow = 1;     // MSGFLT_ALLOW and MSGFLT_ADD
const UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED

// Copies at most maxChars characters and always terminates.
void CopyTruncated(wchar_t* target, size_t maxChars, const wchar_t* source) {
  size_t n = 0;
  while (n < maxChars && source[n] != L'\0') {
    target[n] = source[n];
    ++n;
  }
  target[n] = L'\0';
}

}  // namespace

UINT SfAbstractTrayIcon::taskbarCreatedMessage() { return g_taskbarCreated; }

bool SfAbstractTrayIcon::allowMessageFromLowerRights(HWND window, UINT message) {
  HMODULE user = GetModuleHandleW(L"user32.dll");
  if (!user || message == 0) return false;
  ChangeWindowMessageFilterExFn perWindow = reinterpret_cast<ChangeWindowMessageFilterExFn>(
      reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilterEx")));
  if (perWindow && window) return perWindow(window, message, kMessageFilterAllow, NULL) != FALSE;
  ChangeWindowMessageFilterFn perProcess = reinterpret_cast<ChangeWindowMessageFilterFn>(
      reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilter")));
  // Before Vista there is no filter: every message arrives.
  return perProcess ? perProcess(message, kMessageFilterAllow) != FALSE : true;
}

HICON SfAbstractTrayIcon::loadTrayIcon(HMODULE module, UINT iconId) {
  if (!module) return NULL;
  HMODULE controls = GetModuleHandleW(L"comctl32.dll");
  LoadIconMetricFn metric = controls ? reinterpret_cast<LoadIconMetricFn>(reinterpret_cast<void*>(
                                           GetProcAddress(controls, "LoadIconMetric")))
                                     : NULL;
  HICON icon = NULL;
  if (metric && SUCCEEDED(metric(module, MAKEINTRESOURCEW(iconId), 0 /* LIM_SMALL */, &icon)) && icon)
    return icon;
  // Not shared: a shared icon keeps the size it was first loaded at.
  return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

void SfAbstractTrayIcon::reloadIcon() {
  if (m_iconState == kStateRemoved) return;
  XpUniqueIcon fresh(loadTrayIcon(m_iconModule, m_iconId));
  if (!fresh) return;
  m_iconData.hIcon = fresh.get();
  m_iconData.uFlags = NIF_ICON;
  notify(NIM_MODIFY);
  m_iconState = kStateModified;
  m_icon = std::move(fresh);
}

SfAbstractTrayIcon::SfAbstractTrayIcon(HINSTANCE windowInstance, HMODULE resourceModule,
                                       const wchar_t* className, UINT iconId, UINT menuId, UINT tipStringId)
    : m_iconModule(resourceModule),
      m_iconId(iconId),
      m_menuModule(resourceModule),
      m_menuId(menuId),
      m_stringModule(resourceModule),
      m_tipStringId(tipStringId),
      m_defaultCommand(0),
      m_windowInstance(windowInstance),
      m_iconState(kStateRemoved),
      m_classAtom(0),
      m_sessionRegistered(false),
      m_sessionRetriesLeft(kSessionRetries) {
  ZeroMemory(&m_iconData, sizeof(m_iconData));
  createWindow(className);
}

SfAbstractTrayIcon::~SfAbstractTrayIcon() {
  if (m_window) {
    remove();
    unregisterSession();
    // The subclass is gone already: the window's last messages go to the default procedure.
    SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, 0);
    m_window.reset();
  }
  if (m_classAtom) UnregisterClassW(MAKEINTATOM(m_classAtom), m_windowInstance);
}

void SfAbstractTrayIcon::createWindow(const wchar_t* className) {
  WNDCLASSW wc;
  ZeroMemory(&wc, sizeof(wc));
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &SfAbstractTrayIcon::WindowProc;
  wc.hInstance = m_windowInstance;
  // A null module would make the loader search the program itself.
  wc.hIcon = m_iconModule ? LoadIconW(m_iconModule, MAKEINTRESOURCEW(m_iconId)) : NULL;
  wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = className;
  m_classAtom = RegisterClassW(&wc);
  if (!m_classAtom) return;

  m_window.reset(CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL,
                                 NULL, m_windowInstance, this));
  if (!m_window) return;
  // Bound at WM_NCCREATE already; set again as the window's documented user data.
  SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ShowWindow(m_window.get(), SW_SHOWMINIMIZED);
  ShowWindow(m_window.get(), SW_HIDE);
  // Run elevated anyway, the window still hears the shell's restart, which
  // comes from a process of lower rights.
  allowMessageFromLowerRights(m_window.get(), g_taskbarCreated);

  registerSession();
}

void SfAbstractTrayIcon::registerSession() {
  if (m_sessionRegistered || !m_window) return;
  // Older systems have no session notifications; that is not an error.
  if (!m_sessionLibrary) m_sessionLibrary.reset(LoadSystemLibrary(L"WTSAPI32.DLL"));
  if (!m_sessionLibrary) return;
  RegisterSessionNotificationFn registerFn = reinterpret_cast<RegisterSessionNotificationFn>(
      reinterpret_cast<void*>(GetProcAddress(m_sessionLibrary.get(), "WTSRegisterSessionNotification")));
  if (!registerFn) return;
  if (registerFn(m_window.get(), 0)) {  // this session only
    m_sessionRegistered = true;
    return;
  }
  // Typically RPC_S_INVALID_BINDING: the session service has not started yet.
  if (m_sessionRetriesLeft == 0) return;
  --m_sessionRetriesLeft;
  SetTimer(m_window.get(), kSessionRetryTimer, kSessionRetryMs, NULL);
}

void SfAbstractTrayIcon::unregisterSession() {
  if (m_window) KillTimer(m_window.get(), kSessionRetryTimer);
  if (!m_sessionRegistered) return;
  m_sessionRegistered = false;
  UnregisterSessionNotificationFn unregisterFn = reinterpret_cast<UnregisterSessionNotificationFn>(
      reinterpret_cast<void*>(GetProcAddress(m_sessionLibrary.get(), "WTSUnRegisterSessionNotification")));
  if (unregisterFn && m_window) unregisterFn(m_window.get());
}

void SfAbstractTrayIcon::notify(DWORD operation) { Shell_NotifyIconW(operation, &m_iconData); }

void SfAbstractTrayIcon::show(const wchar_t* title, const wchar_t* text, DWORD infoFlags, UINT timeoutMs) {
  if (m_iconState != kStateRemoved) return;
  m_icon.reset(loadTrayIcon(m_iconModule, m_iconId));
  HICON icon = m_icon.get();
  ZeroMemory(&m_iconData, sizeof(m_iconData));
  m_iconData.cbSize = NOTIFYICONDATAW_V2_SIZE;
  m_iconData.hWnd = m_window.get();
  m_iconData.uID = kIconId;
  m_iconData.uFlags = NIF_MESSAGE | NIF_ICON;
  if (m_tipStringId != 0) m_iconData.uFlags |= NIF_TIP;
  m_iconData.hIcon = icon;
  m_iconData.uCallbackMessage = kCallbackMessage;
  if (m_tipStringId != 0 && m_stringModule) {
    // LoadStringW truncates to the buffer and terminates: at most 127 characters.
    LoadStringW(m_stringModule, m_tipStringId, m_iconData.szTip,
                static_cast<int>(sizeof(m_iconData.szTip) / sizeof(m_iconData.szTip[0])));
  }
  if (title || text) setBalloon(title, text, infoFlags, timeoutMs);
  m_iconState = kStateAdded;
  notify(NIM_ADD);
  m_iconData.uVersion = 3;
  notify(NIM_SETVERSION);
  HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
  if (tray) PostMessageW(tray, WM_NCPAINT, 1, 0);
}

void SfAbstractTrayIcon::remove() {
  if (m_iconState == kStateRemoved) return;
  m_iconState = kStateRemoved;
  notify(NIM_DELETE);
}

void SfAbstractTrayIcon::setBalloon(const wchar_t* title, const wchar_t* text, DWORD infoFlags,
                                    UINT timeoutMs) {
  if (title) CopyTruncated(m_iconData.szInfoTitle, 63, title);
  if (text) CopyTruncated(m_iconData.szInfo, 255, text);
  m_iconData.uFlags |= NIF_INFO;
  m_iconData.dwInfoFlags = infoFlags;
  m_iconData.uTimeout = timeoutMs;
}

void SfAbstractTrayIcon::showBalloon(const wchar_t* title, const wchar_t* text, DWORD infoFlags,
                                     UINT timeoutMs) {
  // A removed icon stays removed: marking it modified would let a shell
  // restart bring it back.
  if (m_iconState == kStateRemoved) return;
  setBalloon(title, text, infoFlags, timeoutMs);
  m_iconState = kStateModified;
  SetForegroundWindow(m_window.get());
  notify(NIM_MODIFY);
  // Later modifications must not show the balloon again.
  m_iconData.szInfoTitle[0] = L'\0';
  m_iconData.szInfo[0] = L'\0';
}

LRESULT SfAbstractTrayIcon::close() {
  if (!m_window) return 0;
  // The icon's own window: from its thread a direct call; from another, that
  // thread never waits without a bound.
  return SendMessageW(m_window.get(), WM_CLOSE, 0, 0);
}

bool SfAbstractTrayIcon::preTranslate(HWND, UINT, WPARAM, LPARAM) { return false; }
int SfAbstractTrayIcon::onCommand(UINT) { return 0; }
void SfAbstractTrayIcon::onSessionDisconnected() {}
void SfAbstractTrayIcon::onSessionConnected() {}
int SfAbstractTrayIcon::onQueryEndSession() { return 1; }
void SfAbstractTrayIcon::onEndSession(bool) {}
void SfAbstractTrayIcon::prepareMenu(HMENU) {}
void SfAbstractTrayIcon::onQuit() {}
void SfAbstractTrayIcon::onSelect(HWND) {}
void SfAbstractTrayIcon::onRightDoubleClick(HWND) {}
void SfAbstractTrayIcon::onBalloonClick(HWND) {}
void SfAbstractTrayIcon::onTimer(UINT_PTR) {}

void SfAbstractTrayIcon::onDefaultAction(HWND) {
  if (m_defaultCommand != 0) onCommand(m_defaultCommand);
}

void SfAbstractTrayIcon::onTaskbarCreated() {
  if (m_iconState == kStateRemoved) return;
  m_iconState = kStateAdded;
  // The restart may come with a new display scale (a changed logon, Windows
  // 10's scale change): the image is made again for the size of now.
  XpUniqueIcon fresh(loadTrayIcon(m_iconModule, m_iconId));
  if (fresh) {
    m_icon = std::move(fresh);
    m_iconData.hIcon = m_icon.get();
  }
  m_iconData.uFlags = NIF_MESSAGE | NIF_ICON;
  if (m_iconData.szTip[0] != L'\0') m_iconData.uFlags |= NIF_TIP;
  // A shell that announces itself after the icon was added already knows it;
  // deleting first keeps such a shell from listing the icon twice.
  notify(NIM_DELETE);
  notify(NIM_ADD);
  m_iconData.uVersion = 3;
  notify(NIM_SETVERSION);
}

int SfAbstractTrayIcon::showContextMenu(HWND window) {
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  if (!m_menuModule) return 0;
  XpUniqueMenu menu(LoadMenuW(m_menuModule, MAKEINTRESOURCEW(m_menuId)));
  if (!menu) return 0;
  HMENU popup = GetSubMenu(menu.get(), 0);
  if (!popup) return 0;
  if (m_defaultCommand != 0) SetMenuDefaultItem(popup, m_defaultCommand, FALSE);
  SetForegroundWindow(window);
  prepareMenu(popup);
  UINT chosen = static_cast<UINT>(
      TrackPopupMenu(popup, TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTALIGN | TPM_RIGHTBUTTON, cursor.x,
                     cursor.y, 0, window, NULL));
  // Without it the menu would not close when the user clicks elsewhere.
  PostMessageW(window, WM_NULL, 0, 0);
  onCommand(chosen);
  ShowWindow(window, SW_SHOWMINIMIZED);
  ShowWindow(window, SW_HIDE);
  return 0;
}

int SfAbstractTrayIcon::onIconEvent(HWND window, UINT event) {
  switch (event) {
    case WM_CONTEXTMENU:
      showContextMenu(window);
      break;
    case WM_LBUTTONDBLCLK:
    case NIN_KEYSELECT:
      onDefaultAction(window);
      break;
    case WM_RBUTTONDBLCLK:
      onRightDoubleClick(window);
      break;
    case NIN_SELECT:
      onSelect(window);
      break;
    case NIN_BALLOONUSERCLICK:
      onBalloonClick(window);
      break;
    default:
      break;
  }
  return 0;
}

int SfAbstractTrayIcon::onClose(HWND window) {
  DestroyWindow(window);
  return 0;
}

LRESULT SfAbstractTrayIcon::onDestroy(HWND window) {
  remove();
  onQuit();
  return DefWindowProcW(window, WM_DESTROY, 0, 0);
}

LRESULT CALLBACK SfAbstractTrayIcon::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The object travels in the creation parameters and is attached before any
  // other message, so the window's first messages already reach it.
  if (message == WM_NCCREATE) {
    const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  SfAbstractTrayIcon* self = reinterpret_cast<SfAbstractTrayIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->handleMessage(window, message, wParam, lParam);
}

LRESULT SfAbstractTrayIcon::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCDESTROY) {
    // The window is gone after this: nothing may reach the object through it.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    // The system destroys it: the owner lets go without closing.
    if (m_window.get() == window) (void)m_window.release();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (preTranslate(window, message, wParam, lParam)) return 0;
  switch (message) {
    case WM_DESTROY:
      onDestroy(window);
      unregisterSession();
      return 0;
    case WM_CLOSE:
      onClose(window);
      return 0;
    case WM_QUERYENDSESSION:
      return onQueryEndSession();
    case WM_ENDSESSION:
      onEndSession(wParam != 0);
      return 0;
    case WM_TIMER: {
      if (wParam == kSessionRetryTimer) {
        KillTimer(window, kSessionRetryTimer);
        registerSession();
        return 0;
      }
      LRESULT result = DefWindowProcW(window, message, wParam, lParam);
      onTimer(static_cast<UINT_PTR>(wParam));
      return result;
    }
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_CONSOLE_CONNECT || wParam == WTS_REMOTE_CONNECT) {
        onSessionConnected();
      } else if (wParam == WTS_CONSOLE_DISCONNECT || wParam == WTS_REMOTE_DISCONNECT) {
        onSessionDisconnected();
      }
      return 0;
    case kCallbackMessage:
      // Under notification version 3 the event is the whole parameter.
      return onIconEvent(window, LOWORD(lParam));
    default:
      break;
  }
  if (message == kDpiChangedMessage) {
    reloadIcon();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (message == g_taskbarCreated && g_taskbarCreated != 0) {
    onTaskbarCreated();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
